#pragma once

#include "GatewayConfig.h"
#include "MapSource.h"

#include <QString>

#include <memory>

// The sources that draw on a live provider: Static, Tiles and the named providers (Preset). Null for Demo,
// which the gateway draws itself. A Static or Tiles configuration that cannot work (a URL missing, not
// http(s), lacking a placeholder) gives a source that answers every picture with 503 and what
// to fix in gateway.conf.
std::unique_ptr<MapSource> createProviderSource(const GatewayConfig& config, QObject* parent = nullptr);

// What is wrong with a Static or Tiles configuration, as a sentence naming the setting; empty
// when it is usable (and for Demo).
QString providerConfigProblem(const GatewayConfig& config);

// A named provider's configuration as the static or tiles source it is: its addresses with the
// style, pin, picture size, country and server filled in, its rates and attribution. Other
// configurations come back as they are.
GatewayConfig resolvePreset(const GatewayConfig& config);

// Where the provider cache lives when the configuration names no folder.
QString defaultProviderCacheDirectory();
