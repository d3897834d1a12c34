#pragma once

#include "platform/Dialogs.h"
#include "platform/ImageFormat.h"
#include "platform/Network.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "platform/Skin.h"
#include "platform/WindowSystem.h"

// Everything the program reaches outside itself. The program owns one bound to Qt;
// tests bind doubles.
struct Platform
{
    WindowSystem& window;
    SettingsStore& settings;
    Network& network;
    ImageFormat& images;
    Dialogs& dialogs;
    Skin& skin;
    Shell& shell;
};
