#pragma once

#include <QByteArray>
#include <QString>

// Reason phrases go into an HTTP status line and from there into the program's report, which
// reads them as Latin-1. These helpers keep them on one line, short, readable and free of the key.
namespace Reasons {

// The search as a person typed it, in quotation marks, without control characters and cut to a
// length that fits a report line.
QString quoted(const QString& search);

// The phrase as status-line bytes: Latin-1, characters outside it as '?', no control
// characters, at most a few hundred bytes; every occurrence of key (when not empty) masked.
QByteArray toPhrase(const QString& text, const QString& key = {});

// "The geocoder", "The map provider": who a failure is about.
enum class Who
{
    Geocoder,
    MapProvider
};
QString who(Who w);

} // namespace Reasons
