#pragma once

#include "platform/PlatformError.h"
#include "platform/WindowSystem.h"

#include <QCursor>
#include <QFileInfo>
#include <QStringList>

#include <functional>
#include <vector>

// Records every box and pointer change; answers prompts from a script; never blocks.
class FakeWindowSystem : public WindowSystem
{
public:
    struct Box
    {
        QString text;
        int style;
        QString title; // as shown: the application title when none was given
    };

    std::vector<Box> boxes;
    QStringList prompts;
    QStringList answers;                // taken from the front; an exhausted script answers "" (cancel)
    std::vector<PointerShape> pointers; // each change of the shape shown; a window starts ordinary
    int pointerApplies = 0;             // every time a shape was applied, changed or not
    int yields = 0;
    bool ended = false;
    std::function<void()> onYield;
    std::function<void(const Box&)> onBox;
    std::function<QCursor(const QString&)> onLoadCursor;

    void setApplicationTitle(const QString& title) override { m_title = title; }
    QString applicationTitle() const override { return m_title; }

    void messageBox(const QString& text, int style, const QString& title = QString()) override
    {
        boxes.push_back({text, style, title.isEmpty() ? m_title : title});
        if (onBox)
            onBox(boxes.back());
    }

    QString inputBox(const QString& prompt, const QString& title = QString()) override
    {
        prompts << prompt;
        m_lastPromptTitle = title.isEmpty() ? m_title : title;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    QCursor loadCursor(const QString& path) override
    {
        if (onLoadCursor)
            return onLoadCursor(path);
        if (!QFileInfo(path).isFile())
            throw PlatformError(QStringLiteral("Cannot open the pointer file %1").arg(path));
        return QCursor(Qt::PointingHandCursor);
    }

    void applyPointer(QWidget&, PointerShape shape, const QCursor*) override
    {
        ++pointerApplies;
        if (shape != m_shown)
            pointers.push_back(shape);
        m_shown = shape;
    }

    void yield() override
    {
        ++yields;
        if (onYield)
            onYield();
    }

    [[noreturn]] void endProgram() override
    {
        ended = true;
        throw ProgramEnded{};
    }

    QString lastPromptTitle() const { return m_lastPromptTitle; }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const Box& b : boxes)
            texts << b.text;
        return texts;
    }

private:
    PointerShape m_shown = PointerShape::Ordinary;
    QString m_title;
    QString m_lastPromptTitle;
};
