#pragma once

#include "platform/WindowSystem.h"

class QtWindowSystem : public WindowSystem
{
public:
    void setApplicationTitle(const QString& title) override { m_title = title; }
    QString applicationTitle() const override { return m_title; }
    void messageBox(const QString& text, int style, const QString& title = QString()) override;
    QString inputBox(const QString& prompt, const QString& title = QString()) override;
    QCursor loadCursor(const QString& path) override;
    void applyPointer(QWidget& window, PointerShape shape, const QCursor* custom) override;
    void yield() override;
    [[noreturn]] void endProgram() override;

    // Message texts break lines with a lone carriage return; a Qt label breaks at a line feed.
    static QString displayText(const QString& text);

private:
    QString m_title;
};
