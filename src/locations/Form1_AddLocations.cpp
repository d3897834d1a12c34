#include "app/Form1.h"
#include "app/Guard.h"
#include "locations/LocationList.h"

// Adding locations without a list file: one typed at the prompt, or the three samples.

void Form1::PushButton6_Click()
{
    Guard g(m_platform.window, QStringLiteral("PushButton6_Click"));
    QString answer;
    g.assign(106, answer,
             [&] { return m_platform.window.inputBox(QStringLiteral("Enter zip code to add: ")); });
    if (g.test(108, [&] { return answer.isEmpty(); }))
        return;
    g(110, [&] { m_locations->append(answer); });
}

void Form1::PushButton5_Click()
{
    Guard g(m_platform.window, QStringLiteral("PushButton5_Click"));
    g(100, [&] { m_locations->append(QStringLiteral("Londonderry NH USA")); });
    g(102, [&] { m_locations->append(QStringLiteral("Haverhill MA")); });
    g(104, [&] { m_locations->append(QStringLiteral("Londonderry UK")); });
}
