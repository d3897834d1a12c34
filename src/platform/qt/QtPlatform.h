#pragma once

#include "platform/Platform.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtSkin.h"
#include "platform/qt/QtWindowSystem.h"

// The program's platform: every interface bound to its Qt implementation.
class QtPlatform
{
public:
    QtPlatform() : m_platform{m_window, m_settings, m_network, m_images, m_dialogs, m_skin, m_shell} {}
    Platform& platform() { return m_platform; }

private:
    QtWindowSystem m_window;
    QtSettingsStore m_settings;
    QtNetwork m_network;
    QtImageFormat m_images;
    QtDialogs m_dialogs;
    QtSkin m_skin;
    QtShell m_shell;
    Platform m_platform;
};
