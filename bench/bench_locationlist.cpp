// Appends a million locations to the list shown in the main window, reads them all back by
// position and clears the list, printing the time of each step.
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestPlatform fake;
    Form1 form(fake.platform);
    form.show();
    QApplication::processEvents();
    LocationList& list = form.locations();
    constexpr int n = 1'000'000;

    QStringList names;
    names.reserve(n);
    for (int i = 0; i < n; ++i)
        names << QStringLiteral("Location %1 MA").arg(i);

    QElapsedTimer t;
    t.start();
    for (const QString& name : names)
        list.append(name);
    QApplication::processEvents();
    const qint64 append = t.restart();

    qsizetype total = 0;
    for (int i = 1; i <= list.count(); ++i)
        total += list.locationAt(i).size();
    const qint64 read = t.restart();

    list.clear();
    QApplication::processEvents();
    const qint64 clear = t.elapsed();

    std::printf("locations: %d (%lld characters read back)\n", n, static_cast<long long>(total));
    std::printf("append one at a time: %lld ms (target <= 1000 ms)\n", static_cast<long long>(append));
    std::printf("read all by position: %lld ms (target <= 1000 ms)\n", static_cast<long long>(read));
    std::printf("clear:                %lld ms (target <= 1000 ms)\n", static_cast<long long>(clear));
    return 0;
}
