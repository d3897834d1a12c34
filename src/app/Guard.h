#pragma once

#include <QString>

#include "platform/PlatformError.h"
#include "platform/WindowSystem.h"

#include <exception>
#include <optional>
#include <utility>

// Shows the "Application Error" box for a failed statement of a guarded handler.
void ReportFailure(WindowSystem& window, const QString& errorLocation, int line, const QString& description);

// Runs body and gives the description of its failure, or nothing when it succeeded. Every
// failure counts, ours or not; only the end of the program passes through.
template <typename F> std::optional<QString> FailureOf(F&& body)
{
    try {
        std::forward<F>(body)();
        return std::nullopt;
    } catch (const ProgramEnded&) {
        throw;
    } catch (const PlatformError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected failure of unknown kind");
    }
}

// The guard of one guarded handler. Each statement runs through it with its line number,
// so a handler reads top to bottom with the numbers beside its statements:
//
//     Guard g(window, "PushButton5_Click");
//     g(100, [&] { list.append("Londonderry NH USA"); });
//
// A failing statement is reported under its number and the handler goes on with the next.
// How a failed test continues depends on its shape: a block test enters its block
// (block()), a one-line test skips its action (test()).
class Guard
{
public:
    Guard(WindowSystem& window, const QString& procedure)
        : m_window(window), m_location(QStringLiteral("in Kestrelby2016/11/03.Form1.%1 ").arg(procedure))
    {
    }

    const QString& errorLocation() const { return m_location; }

    // A plain statement.
    template <typename F> void operator()(int line, F&& statement)
    {
        run(line, [&] { std::forward<F>(statement)(); });
    }

    // The test at the head of a block (an if with its body on the following lines, a loop head).
    // A failed test lets the block in.
    template <typename F> bool block(int line, F&& condition)
    {
        bool result = true;
        run(line, [&] { result = std::forward<F>(condition)(); });
        return result;
    }

    // A one-line test whose action stands on the same line. A failed test skips the action.
    template <typename F> bool test(int line, F&& condition)
    {
        bool result = false;
        run(line, [&] { result = std::forward<F>(condition)(); });
        return result;
    }

    // A statement whose value the handler keeps; on failure the value stays as it was.
    template <typename T, typename F> void assign(int line, T& target, F&& expression)
    {
        run(line, [&] { target = std::forward<F>(expression)(); });
    }

private:
    template <typename F> void run(int line, F&& body)
    {
        if (const auto failure = FailureOf(std::forward<F>(body)))
            ReportFailure(m_window, m_location, line, *failure);
    }

    WindowSystem& m_window;
    QString m_location;
};
