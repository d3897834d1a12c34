#pragma once

#include <QString>

class WindowSystem;

// Small file and path routines. None of them reports a failure: each answers as well as it
// can and leaves everything as it was when the file system refuses. A path holding a character
// no file name can have on this platform names nothing: it doesn't exist, isn't a folder and
// is never removed.

// True when the path names an existing file or folder. Never a pattern.
bool FileExists(const QString& path);

// Lets the window process pending events, then deletes exactly the one file named; never a
// folder, a read-only file or a pattern. Failures are ignored.
void RemoveFile(WindowSystem& window, const QString& path);

// True when the path names an existing folder (a final separator is allowed).
bool IsFolder(const QString& path);

// The part of the path after its last separator (the platform's own: "\" on Windows, "/"
// elsewhere); the whole text when there is none.
QString FileNamePart(const QString& path);

// The platform's path separator, as the program joins and splits paths with it.
QChar PathSeparator();
