#pragma once

#include "platform/PlatformError.h"
#include "platform/SettingsStore.h"

#include <QHash>
#include <QStringList>

#include <utility>
#include <vector>

// Keeps values in memory and logs every store in order.
class FakeSettingsStore : public SettingsStore
{
public:
    QHash<QString, QString> values;                  // "app/section/key" -> text
    std::vector<std::pair<QString, QString>> stored; // (key, text) in the order stored
    bool failStores = false;

    static QString path(const QString& app, const QString& section, const QString& key)
    {
        return app + QLatin1Char('/') + section + QLatin1Char('/') + key;
    }

    QString read(const QString& app, const QString& section, const QString& key, const QString& def) override
    {
        const auto it = values.constFind(path(app, section, key));
        return it == values.cend() ? def : *it;
    }

    void store(const QString& app, const QString& section, const QString& key, const QString& value) override
    {
        if (failStores)
            throw PlatformError(QStringLiteral("The setting \"%1\" could not be saved").arg(key));
        values.insert(path(app, section, key), value);
        stored.emplace_back(key, value);
    }

    // Kept under "<key> aside", which the answer names.
    QString storeAside(const QString& app, const QString& section, const QString& key,
                       const QString& value) override
    {
        store(app, section, key + QStringLiteral(" aside"), value);
        return key + QStringLiteral(" aside");
    }

    // Our own values, under the program's application and section.
    void set(const QString& key, const QString& value) { values.insert(path(app(), section(), key), value); }
    QString get(const QString& key) const { return values.value(path(app(), section(), key)); }
    bool has(const QString& key) const { return values.contains(path(app(), section(), key)); }
    QStringList storedValues(const QString& key) const
    {
        QStringList out;
        for (const auto& [k, v] : stored)
            if (k == key)
                out << v;
        return out;
    }
    static QString app() { return QStringLiteral("Tamberlyn"); }
    static QString section() { return QStringLiteral("Orrowdale"); }
};
