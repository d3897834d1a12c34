#pragma once

#include "platform/PlatformError.h"
#include "platform/Shell.h"

#include <QHash>

// A machine whose folders and variables the test chooses.
class FakeShell : public Shell
{
public:
    QString program = QStringLiteral("/nonexistent/program");
    QString desktop = QStringLiteral("/home/user/Desktop");
    bool desktopFails = false;
    QHash<QString, QString> variables;

    QString programFolder() const override { return program; }
    QString desktopFolder() const override
    {
        if (desktopFails)
            throw PlatformError(QStringLiteral("The desktop folder cannot be determined"));
        return desktop;
    }
    QString environment(const QString& name) const override { return variables.value(name); }
};
