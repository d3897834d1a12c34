#include "capture/URLMon.h"

#include "capture/FileHelpers.h"
#include "platform/Network.h"
#include "platform/PlatformError.h"

bool DownloadToFile(WindowSystem& window, Network& network, const QString& url, const QString& path)
{
    RemoveFile(window, path);
    // Without a path there is nowhere safe to write: a relative name would land in whatever
    // folder the program happens to run in.
    if (!path.isEmpty()) {
        try {
            network.downloadToFile(url, path);
        } catch (const PlatformError&) {
            // The missing file is the answer.
        }
    }
    return FileExists(path);
}
