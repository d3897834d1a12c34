#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// A map-like picture for a search at a zoom level, drawn offline: streets, a river, parks, a
// marker and a label. The same search and zoom always give the same picture, and another search
// or zoom gives a visibly different one. Drawn without antialiasing, so it stays within 256
// colours. Needs a QGuiApplication (for the label's font); safe on any thread.
QImage drawMap(const QString& search, int zoomLevel, QSize size);
