#include "capture/URLMon.h"

#include "capture/FileHelpers.h"
#include "platform/Network.h"

bool DownloadToFile(WindowSystem& window, Network& network, const QString& url, const QString& path,
                    QString* failure)
{
    QString why;
    RemoveFile(window, path);
    // Without a path there is nowhere safe to write: a relative name would land in whatever
    // folder the program happens to run in.
    if (path.isEmpty()) {
        why = QStringLiteral("there is no file to keep it in");
    } else {
        try {
            network.downloadToFile(url, path);
        } catch (const FetchError& e) {
            why = e.reason();
        } catch (const PlatformError& e) {
            why = e.description();
        }
    }
    const bool stored = FileExists(path);
    if (failure)
        *failure = stored ? QString() : why;
    return stored;
}
