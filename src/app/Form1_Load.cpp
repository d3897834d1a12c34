#include "app/Form1.h"
#include "app/Guard.h"
#include "locations/LocationList.h"

#include <QHeaderView>
#include <QTreeView>

// Start-up and shut-down of the main window.

void Form1::Form_Load()
{
    Guard g(m_platform.window, QStringLiteral("Form_Load"));
    g(106, [&] { setWindowTitle(QStringLiteral("Orrowdale")); });
    g(106, [&] { m_platform.window.setApplicationTitle(QStringLiteral("Orrowdale")); });
    g(130, [&] { m_locations->setHeaderText(QStringLiteral("Google Map Location(s)")); });
    g(132, [&] { ListView1->setColumnWidth(0, qRound(7000 / 15.0)); });
}

void Form1::Form_QueryUnload() {}

void Form1::Form_Unload()
{
    if (m_endHook)
        m_endHook();
    m_platform.window.endProgram();
}
