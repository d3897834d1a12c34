#pragma once

#include <QString>

class QWidget;
class QCursor;

// Pointer shapes of the main window, numbered as the classic pointer property numbers them.
enum class PointerShape
{
    Ordinary = 0,
    Busy = 11,
    Custom = 99
};

// Message box styles: the button set plus the icon, as the classic message box call adds them.
namespace MessageStyle {
inline constexpr int OkOnly = 0;
inline constexpr int Exclamation = 48;
} // namespace MessageStyle

// Thrown by WindowSystem::endProgram() where the program cannot really end (test doubles),
// so the work in progress unwinds without running another statement. Nothing catches it
// but the test that expects it.
struct ProgramEnded
{
};

// Message boxes, the text prompt, pointer shapes, yielding and ending the program.
class WindowSystem
{
public:
    virtual ~WindowSystem() = default;

    // The caption of every box and prompt that names none of its own.
    virtual void setApplicationTitle(const QString& title) = 0;
    virtual QString applicationTitle() const = 0;

    // Modal box with a single OK button; returns when the user has closed it.
    // An empty title means the application title.
    virtual void messageBox(const QString& text, int style, const QString& title = QString()) = 0;

    // Modal one-line prompt, starting empty. Returns the text typed, or an empty text on cancel.
    virtual QString inputBox(const QString& prompt, const QString& title = QString()) = 0;

    // Reads a Windows cursor file (with its hotspot). Throws PlatformError when it can't.
    virtual QCursor loadCursor(const QString& path) = 0;

    // Shows the given shape over the whole window; custom is null when there is no custom image.
    virtual void applyPointer(QWidget& window, PointerShape shape, const QCursor* custom) = 0;

    // Lets the window process its pending events.
    virtual void yield() = 0;

    // Ends the program at once; never returns (test doubles throw ProgramEnded).
    [[noreturn]] virtual void endProgram() = 0;
};
