#pragma once

#include "platform/Shell.h"

class QtShell : public Shell
{
public:
    QString programFolder() const override;
    QString desktopFolder() const override;
    QString environment(const QString& name) const override;
};
