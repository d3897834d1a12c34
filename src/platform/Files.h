#pragma once

#include <QFile>
#include <QString>
#include <QStringView>

#include <functional>

// What a path may hold, and the one way the program writes a file.
//
// A path with a character the platform cannot store is cut short or changed on its way to the
// system and then names another file (a NUL ends the name there), so every file operation
// checks the path first. Files are written beside their name and renamed into place: whatever
// stood at the name, an earlier file or a link someone planted there, is replaced, never written
// through, and a file that fails half-way never shows at the name. A file the user may not write
// is never replaced: made read-only, it is meant to stay.

enum class NameRules
{
    Posix,   // NUL, and UTF-16 surrogates without their pair (no UTF-8 name holds them)
    Windows, // also the control characters, < > " | ? * and a colon other than a drive's
};

NameRules NativeNameRules();

// Where the first character stands that no path can hold under rules; -1 when there is none.
qsizetype RefusedCharacterAt(QStringView path, NameRules rules = NativeNameRules());

// The text as a message shows it: control characters as their visible symbols.
QString VisibleText(const QString& text);
// A path as a message shows it: native separators, control characters visible.
QString ShownPath(const QString& path);

// Throws PlatformError "<failure> "<path>": ..." when path holds a character the platform
// cannot store in a name.
void CheckPath(const QString& path, const QString& failure);

// A file written under a temporary name in its folder and put in place by a rename.
class ReplacingFile
{
public:
    enum class Kind
    {
        Work,   // the user's alone, not waited for on disk: read back at once and removed
        Result, // the usual permissions, on disk before it takes its name
        Kept,   // the user's alone, on disk before it takes its name: exists nowhere else
    };

    ReplacingFile(const QString& path, Kind kind);
    ~ReplacingFile(); // an unfinished file goes
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the unfinished file beside path; never opens anything that already exists.
    // Throws PlatformError when path is empty or refused, or its folder takes no new file.
    void open();
    bool isOpen() const { return m_file.isOpen(); }
    QIODevice& device() { return m_file; }
    // Puts the written file at path, replacing what was there, whose permissions it takes on.
    // Throws PlatformError, also when what is there is a file the user may not write; the
    // unfinished file is gone then and path is as it was.
    void commit();
    // Drops the unfinished file: path stays as it was.
    void discard();

private:
    QString m_path;
    Kind m_kind;
    QFile m_file;
};

// Writes the file at path whole through write (which may throw PlatformError) or not at all.
void WriteWholeFile(const QString& path, ReplacingFile::Kind kind,
                    const std::function<void(QIODevice&)>& write);
