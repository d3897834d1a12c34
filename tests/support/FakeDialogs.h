#pragma once

#include "platform/Dialogs.h"

#include <QList>

#include <functional>

// Answers file and folder dialogs from a script and records how they were asked.
class FakeDialogs : public Dialogs
{
public:
    QList<QStringList> fileAnswers; // taken from the front; exhausted means cancel
    QStringList folderAnswers;      // taken from the front; exhausted means cancel
    QString lastTitle;
    QStringList lastFilters;
    std::function<void()> onOpen; // may throw, to stand for a dialog that fails

    QStringList openFiles(QWidget*, const QString& title, const QStringList& filters) override
    {
        lastTitle = title;
        lastFilters = filters;
        if (onOpen)
            onOpen();
        return fileAnswers.isEmpty() ? QStringList() : fileAnswers.takeFirst();
    }

    QString chooseFolder(QWidget*, const QString& title) override
    {
        lastTitle = title;
        if (onOpen)
            onOpen();
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }
};
