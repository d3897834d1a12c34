// Appends a million locations to the list shown in the main window, reads them all back by
// position and clears the list, printing the time of each step and the peak resident size.
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTreeView>

#include <algorithm>
#include <cstdio>

namespace {

// The kernel's record of the most memory this process has held, in MB.
double peakResidentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// "Location <i> MA", written into a buffer of the caller's: the benchmark holds no million
// names of its own beside the list's.
QString name(int i, char16_t (&buffer)[32])
{
    constexpr char16_t Head[] = u"Location ";
    constexpr char16_t Tail[] = u" MA";
    char16_t digits[12];
    int n = 0;
    do
        digits[n++] = char16_t(u'0' + i % 10);
    while ((i /= 10) > 0);
    char16_t* o = std::copy(Head, Head + 9, buffer);
    while (n > 0)
        *o++ = digits[--n];
    o = std::copy(Tail, Tail + 3, o);
    return QString::fromRawData(reinterpret_cast<const QChar*>(buffer), o - buffer);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestPlatform fake;
    Form1 form(fake.platform);
    form.show();
    QApplication::processEvents();
    LocationList& list = form.locations();
    constexpr int n = 1'000'000;

    // --held-names: the names made beforehand and held as strings for the whole run, as a
    // caller that keeps its own copy would.
    const bool held = QCoreApplication::arguments().contains(QStringLiteral("--held-names"));
    char16_t buffer[32];
    QStringList names;
    if (held) {
        names.reserve(n);
        for (int i = 0; i < n; ++i) {
            const QString raw = name(i, buffer);
            names << QString(raw.constData(), raw.size());
        }
    }
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        list.append(held ? names[i] : name(i, buffer));
    QApplication::processEvents();
    const qint64 append = t.restart();

    qsizetype total = 0;
    for (int i = 1; i <= list.count(); ++i)
        total += list.locationAt(i).size();
    const qint64 read = t.restart();

    list.clear();
    QApplication::processEvents();
    const qint64 clear = t.elapsed();

    std::printf("locations: %d (%lld characters read back)%s\n", n, static_cast<long long>(total),
                held ? ", names held by the benchmark too" : "");
    std::printf("append one at a time: %lld ms (target <= 1000 ms)\n", static_cast<long long>(append));
    std::printf("read all by position: %lld ms (target <= 1000 ms)\n", static_cast<long long>(read));
    std::printf("clear:                %lld ms (target <= 1000 ms)\n", static_cast<long long>(clear));
    std::printf("peak resident size:   %.0f MB (target <= 150 MB)\n", peakResidentMB());
    return 0;
}
