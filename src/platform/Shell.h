#pragma once

#include <QString>

// Where things are on this machine.
class Shell
{
public:
    virtual ~Shell() = default;

    // The folder that holds the program's executable, without a final separator.
    virtual QString programFolder() const = 0;

    // The user's desktop folder, without a final separator. Throws PlatformError when unknown.
    virtual QString desktopFolder() const = 0;

    // An environment variable's value; empty when unset.
    virtual QString environment(const QString& name) const = 0;
};
