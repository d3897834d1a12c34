#pragma once

#include "platform/Dialogs.h"

class QtDialogs : public Dialogs
{
public:
    QStringList openFiles(QWidget* owner, const QString& title, const QStringList& filters) override;
    QString chooseFolder(QWidget* owner, const QString& title) override;
};
