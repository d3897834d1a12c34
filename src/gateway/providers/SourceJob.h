#pragma once

#include "MapSource.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <utility>

// One picture being made. It answers exactly once: with what the source finds, or with a
// failure when its deadline comes first or its source goes away. Provider requests made on
// its behalf name it as their owner, so they are dropped with it.
class SourceJob : public QObject
{
    Q_OBJECT
public:
    SourceJob(QObject* source, const MapRequest& request, QDeadlineTimer deadline, MapSource::Done done)
        : QObject(source), request(request), providerDeadline(fetchDeadline(deadline)),
          m_done(std::move(done))
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { finish(MapAnswer::failure(504, "The map provider did not answer in time")); });
        if (!deadline.isForever()) {
            m_timer.start(std::max<qint64>(0, deadline.remainingTime() - reserve(deadline).count() / 2));
        }
    }

    void finish(const MapAnswer& answer)
    {
        if (!m_done) {
            return;
        }
        m_timer.stop();
        std::exchange(m_done, {})(answer);
        deleteLater();
    }
    bool finished() const { return !m_done; }

    // The time kept back from provider requests for drawing and answering.
    static std::chrono::milliseconds reserve(QDeadlineTimer deadline)
    {
        if (deadline.isForever()) {
            return std::chrono::milliseconds(0);
        }
        return std::chrono::milliseconds(std::clamp<qint64>(deadline.remainingTime() / 20, 10, 250));
    }
    // The deadline handed to provider requests.
    static QDeadlineTimer fetchDeadline(QDeadlineTimer deadline)
    {
        if (deadline.isForever()) {
            return deadline;
        }
        return QDeadlineTimer(std::max<qint64>(0, deadline.remainingTime() - reserve(deadline).count()),
                              Qt::PreciseTimer);
    }

    MapRequest request;
    QDeadlineTimer providerDeadline; // what provider requests made for it are given

private:
    MapSource::Done m_done;
    QTimer m_timer;
};
