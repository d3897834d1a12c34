#pragma once

#include "platform/SettingsStore.h"

// The per-user store on QSettings. On Windows the values stay where earlier versions of the
// program kept them (HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>), so
// saved lists come back; elsewhere they live in the user's configuration folder as an INI file,
// <app>.conf, with the section as its group (~/.config/Tamberlyn.conf on Linux).
class QtSettingsStore : public SettingsStore
{
public:
    QString read(const QString& app, const QString& section, const QString& key,
                 const QString& defaultValue) override;
    void store(const QString& app, const QString& section, const QString& key, const QString& value) override;

    // The file or registry key that holds the values of app.
    static QString location(const QString& app);
};
