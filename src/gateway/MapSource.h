#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>

// One picture asked for by the program: the search text as it sent it, the web-map zoom
// (0 = whole world, 17 = street level) and the picture's size in pixels.
struct MapRequest
{
    QString search;
    int zoom = 0;
    QSize size{640, 640};
};

// What a source answers: an encoded picture (PNG or whatever the provider sent, checked to
// decode), or a failure with an HTTP status and a reason phrase a person can act on. A reason
// never holds a key.
struct MapAnswer
{
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType; // e.g. "image/png"
    QByteArray body;

    bool ok() const { return status == 200; }
    static MapAnswer failure(int status, const QByteArray& reason)
    {
        MapAnswer a;
        a.status = status;
        a.reason = reason;
        return a;
    }
};

// Where pictures come from. A source answers each request exactly once, on the gateway's
// thread, before the deadline has passed (a source that cannot finish in time answers with a
// failure). Sources may answer at once or later; several requests may be in flight.
class MapSource : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const MapAnswer&)>;

    explicit MapSource(QObject* parent = nullptr) : QObject(parent) {}
    ~MapSource() override = default;

    virtual void render(const MapRequest& request, QDeadlineTimer deadline, Done done) = 0;
};
