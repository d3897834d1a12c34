#include "app/Form1.h"
#include "app/Guard.h"
#include "locations/ListFile.h"
#include "locations/LocationList.h"

// Loading locations from list files chosen in the open-files dialog.

void Form1::PushButton3_Click()
{
    Guard g(m_platform.window, QStringLiteral("PushButton3_Click"));
    // The dialog is set up and shown in one call (100 to 108) and answers with full paths in
    // its own order, so the selection needs no splitting or joining (112, 124 to 132).
    QStringList files;
    g.assign(108, files, [&] {
        return CommonDialog1.openFiles(
            this, QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"),
            {QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")});
    });
    if (g.test(110, [&] { return files.isEmpty(); }))
        return;
    g(114, [&] { setPointerShape(PointerShape::Busy); });
    if (g.block(116, [&] { return files.size() == 1; })) {
        QString path;
        g.assign(118, path, [&] { return files.first(); });
        g(120, [&] { ReadListFile(m_platform.window, *m_locations, path); });
    } else if (g.block(122, [&] { return files.size() >= 2; })) {
        // One file at a time; a failure in one is reported and the next is still read.
        for (const QString& path : files)
            g(134, [&] { ReadListFile(m_platform.window, *m_locations, path); });
    }
    g(138, [&] { setPointerShape(PointerShape::Ordinary); });
}
