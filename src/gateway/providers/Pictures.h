#pragma once

#include "Reasons.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

// Checking a picture a provider sent before anything is made of it.
struct PictureCheck
{
    QString problem;   // empty when the picture is usable
    QByteArray format; // "png", "jpeg", "gif", ... as Qt names it
    QImage image;      // decoded (when asked for)
};

// The body must be a picture Qt reads, no larger than maxSize either way, and complete (a
// picture cut short is refused, not drawn half grey). Unless decode is set, a picture whose
// header and ending look right is not decoded in full.
PictureCheck checkPicture(const QByteArray& body, const QByteArray& contentType, QSize maxSize,
                          Reasons::Who who, bool decode);

// The MIME type for a format Qt named.
QByteArray pictureMimeType(const QByteArray& format);

// Calls work(0) .. work(count - 1) on Qt's thread pool, the calling thread working too, and
// returns when all are done. work must be safe to run on several threads at once.
void inParallel(qsizetype count, const std::function<void(qsizetype)>& work);
