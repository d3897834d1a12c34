#pragma once

#include "MapSource.h"

#include <QCache>
#include <QString>

// Offline pictures for a fresh install: the drawn maps, plainly marked as demo maps, with the
// address of the page where a real provider is chosen. Drawing runs on Qt's thread pool so that
// several requests can be drawn at once; answers come back on the gateway's thread.
class DemoSource : public MapSource
{
    Q_OBJECT
public:
    // pageUrl, the gateway's settings page, is shown on every picture.
    explicit DemoSource(const QString& pageUrl, QObject* parent = nullptr);

    void render(const MapRequest& request, QDeadlineTimer deadline, Done done) override;

    // The picture for a request, encoded as PNG (empty when it cannot be drawn).
    static QByteArray draw(const MapRequest& request, const QString& pageUrl);
    // The first line of the band along the bottom: what this is, at the zoom the user chose.
    static QString caption(const MapRequest& request);

private:
    QString m_pageUrl;
    QCache<QString, QByteArray> m_recent{16 << 20};
};
