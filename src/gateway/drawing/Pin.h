#pragma once

#include <QImage>
#include <QPoint>

// A map pin whose tip is on the given pixel: a red drop with a white ring and a dark outline, so
// that it stands out on light and dark maps alike. The tip pixel itself is the pin's red. scale 2
// draws it twice as large, for pictures at twice the detail.
void drawPin(QImage& picture, QPoint tip, int scale = 1);

// The colour of the pin's tip.
inline constexpr QRgb PinColour = 0xffe03c31;
