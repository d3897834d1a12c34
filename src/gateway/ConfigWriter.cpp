#include "ConfigWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace ConfigWriter {

namespace {

struct Line
{
    QString text;    // without its line ending
    QString section; // the section it belongs to, lower case ("" before any heading)
    QString key;     // the key it sets, lower case; empty for anything else
};

// Reads lines the way ConfigFile::parse does, so that a key is found where the gateway reads it.
QList<Line> split(const QString& all)
{
    QList<Line> lines;
    QString section;
    for (const QString& raw : all.split(QLatin1Char('\n'))) {
        Line line{raw, section, {}};
        const QString t = raw.trimmed();
        if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'))) {
            section = t.mid(1, t.size() - 2).trimmed().toLower();
            line.section = section;
        } else if (!t.isEmpty() && !t.startsWith(QLatin1Char('#')) && !t.startsWith(QLatin1Char(';'))) {
            const qsizetype equals = t.indexOf(QLatin1Char('='));
            if (equals > 0) {
                line.key = t.left(equals).trimmed().toLower();
            }
        }
        lines << line;
    }
    return lines;
}

bool isHeading(const Line& line)
{
    const QString t = line.text.trimmed();
    return t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'));
}

// "# key = example": where the template shows a setting it leaves out.
bool isExampleOf(const Line& line, const QString& key)
{
    const QRegularExpression example(
        QStringLiteral("^\\s*[#;]\\s*%1\\s*=").arg(QRegularExpression::escape(key)),
        QRegularExpression::CaseInsensitiveOption);
    return example.match(line.text).hasMatch();
}

void applyOne(QList<Line>& lines, const Change& change)
{
    const QString section = change.section.toLower();
    const QString key = change.key.toLower();
    bool found = false;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        Line& line = lines[i];
        if (line.section != section || line.key != key) {
            continue;
        }
        found = true;
        if (!change.value) {
            lines.removeAt(i);
            continue;
        }
        // The user's spelling and indentation of the key stay.
        QString head = line.text.left(line.text.indexOf(QLatin1Char('=')));
        while (head.endsWith(QLatin1Char(' ')) || head.endsWith(QLatin1Char('\t'))) {
            head.chop(1);
        }
        line.text = head + QStringLiteral(" = ") + *change.value;
    }
    if (found || !change.value) {
        return;
    }
    const Line added{change.key + QStringLiteral(" = ") + *change.value, section, key};
    qsizetype heading = -1;
    qsizetype lastFilled = -1;
    qsizetype example = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].section != section) {
            continue;
        }
        if (isHeading(lines[i]) && heading < 0) {
            heading = i;
        }
        if (!lines[i].text.trimmed().isEmpty()) {
            lastFilled = i;
        }
        if (isExampleOf(lines[i], key)) {
            example = i;
        }
    }
    // Settings before any heading belong to no section; a section is only found by its heading.
    if (!section.isEmpty() && heading < 0) {
        while (!lines.isEmpty() && lines.constLast().text.trimmed().isEmpty()) {
            lines.removeLast();
        }
        if (!lines.isEmpty()) {
            lines << Line{};
        }
        lines << Line{QLatin1Char('[') + change.section + QLatin1Char(']'), section, {}} << added << Line{};
        return;
    }
    const qsizetype at = example >= 0 ? example + 1 : lastFilled + 1;
    lines.insert(at, added);
}

} // namespace

QByteArray apply(const QByteArray& text, const QList<Change>& changes)
{
    const bool bom = text.startsWith("\xEF\xBB\xBF");
    QString all = QString::fromUtf8(bom ? text.mid(3) : text);
    const bool crlf = all.contains(QLatin1String("\r\n"));
    if (crlf) {
        all.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    }
    QList<Line> lines = split(all);
    for (const Change& change : changes) {
        applyOne(lines, change);
    }
    QStringList out;
    for (const Line& line : lines) {
        out << line.text;
    }
    QString joined = out.join(crlf ? QStringLiteral("\r\n") : QStringLiteral("\n"));
    const QString eol = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    if (!joined.isEmpty() && !joined.endsWith(eol)) {
        joined += eol;
    }
    return (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + joined.toUtf8();
}

bool replace(const QString& path, const QByteArray& text, QString* error)
{
    const QFileInfo info(path);
    const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write in %1: %2").arg(folder, file.errorString());
        return false;
    }
    // Private before the first byte of a key is in it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error = QStringLiteral("cannot make %1 private: %2").arg(target, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(target, file.errorString());
        return false;
    }
    return true;
}

} // namespace ConfigWriter
