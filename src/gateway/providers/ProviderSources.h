#pragma once

#include "GatewayConfig.h"
#include "MapSource.h"

#include <memory>

// The sources that draw on a live provider: Static and Tiles. Null for Demo, which the
// gateway draws itself.
std::unique_ptr<MapSource> createProviderSource(const GatewayConfig& config, QObject* parent = nullptr);
