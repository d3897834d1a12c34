#pragma once

#include "GatewayConfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The gateway's configuration file: INI-style text the user edits by hand.
//
//   [section]          a heading; keys below it belong to it
//   key = value        the value is everything after the first '=', trimmed, taken as it is
//                      (commas, quotes and '#' included: URL templates hold all of them)
//   # or ; at the start of a line: a comment
namespace ConfigFile {

// ~/.config/orrowdale/gateway.conf (the user's configuration folder).
QString defaultPath();
// ~/.cache/orrowdale/gateway (the user's cache folder).
QString defaultCacheDirectory();

struct Reading
{
    GatewayConfig config;
    // What is wrong with the text, each naming its line; the config is unusable when any.
    QStringList errors;
    // Keys nobody reads (probably misspelt), each naming its line; these do no harm.
    QStringList warnings;
};

// Reads the text of a configuration file. Values the text leaves out keep their defaults;
// the cache folder, when not set, is defaultCacheDirectory().
Reading parse(const QByteArray& text);

// The commented template a new configuration file holds: the demo source, and every other
// setting written out but commented.
QByteArray templateText();

// Creates the file holding templateText(), readable by its owner only, unless it exists.
// False with a message when it is missing and cannot be created.
bool ensureExists(const QString& path, QString* error);

// The path as a person would type it: the home folder shown as "~".
QString displayPath(const QString& path);

} // namespace ConfigFile
