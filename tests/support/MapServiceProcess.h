#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <utility>

// The local map service (tools/mapservice) run as its own process for the length of a test:
// started by the constructor, killed by the destructor. extraArguments go on its command line
// (e.g. {"--stall-ms", "500"}).
class MapServiceProcess
{
public:
    explicit MapServiceProcess(const QStringList& extraArguments = {}, int startTimeoutMs = 10'000)
    {
        m_process.start(QStringLiteral(ORROWDALE_MAPSERVICE_PATH), extraArguments);
        if (!m_process.waitForStarted(startTimeoutMs)) {
            m_error = QStringLiteral("cannot start %1: %2")
                          .arg(QStringLiteral(ORROWDALE_MAPSERVICE_PATH), m_process.errorString());
            return;
        }
        const QDeadlineTimer deadline(startTimeoutMs);
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QString prefix = QStringLiteral("listening on ");
        if (!line.startsWith(prefix)) {
            m_process.waitForFinished(1000);
            m_error = QStringLiteral("the map service did not start: %1")
                          .arg(QString::fromUtf8(m_process.readAllStandardError()).trimmed());
            return;
        }
        m_baseUrl = line.mid(prefix.size());
        // From here on only the request log (stderr) is read.
        m_process.setReadChannel(QProcess::StandardError);
    }
    ~MapServiceProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    MapServiceProcess(const MapServiceProcess&) = delete;
    MapServiceProcess& operator=(const MapServiceProcess&) = delete;

    bool isRunning() const { return !m_baseUrl.isEmpty() && m_process.state() == QProcess::Running; }
    QString errorString() const { return m_error; }
    // "http://127.0.0.1:PORT", empty when the service did not start.
    QString baseUrl() const { return m_baseUrl; }

    // Every request target the service has logged so far (the service logs a request before it
    // answers, so a request whose answer has arrived is in the list).
    QStringList requestTargets()
    {
        while (m_process.waitForReadyRead(20)) {
        }
        readLog();
        return m_targets;
    }

    // Waits until a logged request target contains fragment.
    bool waitForRequest(const QString& fragment, int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            readLog();
            for (const QString& target : std::as_const(m_targets)) {
                if (target.contains(fragment)) {
                    return true;
                }
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running) {
                return false;
            }
            m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

private:
    void readLog()
    {
        while (m_process.canReadLine()) {
            // "GET /maps?... HTTP/1.1"
            const QList<QByteArray> parts = m_process.readLine().trimmed().split(' ');
            if (parts.size() == 3) {
                m_targets << QString::fromUtf8(parts[1]);
            }
        }
    }

    QProcess m_process;
    QString m_baseUrl;
    QString m_error;
    QStringList m_targets;
};
