#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Changes the gateway's configuration file the way a careful person edits it by hand: only the
// lines of the settings that change are touched; comments, blank lines, unknown keys and the
// line endings stay as the user wrote them.
namespace ConfigWriter {

struct Change
{
    QString section; // as in [section], any case
    QString key;     // any case
    // The new value, on one line; none: every line setting the key is taken out.
    std::optional<QString> value;
};

// The text with each change made. A key set in its section gets the new value in place (on
// every line that sets it, since the last one counts); a key not set yet goes below its
// commented example in that section, else at the end of the section, else in a new section at
// the end of the text.
QByteArray apply(const QByteArray& text, const QList<Change>& changes);

// Replaces the file at path with text in one step, readable and writable by its owner only: a
// reader sees the old text or the new, never part of one. A link is followed and its target
// replaced. False with a message when it cannot.
bool replace(const QString& path, const QByteArray& text, QString* error);

} // namespace ConfigWriter
