#pragma once

#include "platform/SettingsStore.h"

class QtSettingsStore : public SettingsStore
{
public:
    QString read(const QString& app, const QString& section, const QString& key,
                 const QString& defaultValue) override;
    void store(const QString& app, const QString& section, const QString& key, const QString& value) override;
};
