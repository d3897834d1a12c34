#pragma once

#include "platform/SettingsStore.h"

// The per-user store on QSettings. On Windows the values stay where earlier versions of the
// program kept them (HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>), so
// saved lists come back; elsewhere they live in the user's configuration folder as an INI file,
// <app>.conf, with the section as its group (~/.config/Tamberlyn.conf on Linux), except the
// saved location list ("Zip Codes"), which has a UTF-8 text file of its own beside it,
// <app>/<section>/Zip Codes.txt. A list an earlier version left in the INI file is read from
// there and moved to its own file. Values of a system-wide file are never read.
class QtSettingsStore : public SettingsStore
{
public:
    QString read(const QString& app, const QString& section, const QString& key,
                 const QString& defaultValue) override;
    void store(const QString& app, const QString& section, const QString& key, const QString& value) override;

    // The file or registry key that holds the values of app.
    static QString location(const QString& app);
    // The file or registry key that holds this value.
    static QString location(const QString& app, const QString& section, const QString& key);
};
