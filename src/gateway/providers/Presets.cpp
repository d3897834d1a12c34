#include "Presets.h"

namespace Presets {

const QList<Preset>& all()
{
    static const QList<Preset> presets;
    return presets;
}

const Preset* find(const QString& id)
{
    for (const Preset& p : all()) {
        if (p.id.compare(id, Qt::CaseInsensitive) == 0) {
            return &p;
        }
    }
    return nullptr;
}

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::FreeTextStatic:
        return QStringLiteral("Static map, free text");
    case Kind::CoordinateStatic:
        return QStringLiteral("Static map, coordinates");
    case Kind::Tiles:
        return QStringLiteral("Map tiles");
    }
    return {};
}

} // namespace Presets
