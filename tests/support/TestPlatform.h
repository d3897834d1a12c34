#pragma once

#include "platform/Platform.h"
#include "support/FakeDialogs.h"
#include "support/FakeImageFormat.h"
#include "support/FakeNetwork.h"
#include "support/FakeSettingsStore.h"
#include "support/FakeShell.h"
#include "support/FakeSkin.h"
#include "support/FakeWindowSystem.h"

// Every platform interface bound to a test double.
struct TestPlatform
{
    FakeWindowSystem window;
    FakeSettingsStore settings;
    FakeNetwork network;
    FakeImageFormat images;
    FakeDialogs dialogs;
    FakeSkin skin;
    FakeShell shell;
    Platform platform{window, settings, network, images, dialogs, skin, shell};
};
