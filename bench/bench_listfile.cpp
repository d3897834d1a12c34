// Loads list files through "Load List Of Locations From File" into the list shown in the main
// window: a million short lines, then one 100 MB line without any line end.
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Times one click of the button with the dialog answering path; returns milliseconds.
qint64 load(Form1& form, TestPlatform& fake, const QString& path)
{
    fake.dialogs.fileAnswers << QStringList{path};
    QElapsedTimer t;
    t.start();
    form.PushButton3_Click();
    const qint64 read = t.elapsed();
    QApplication::processEvents(); // the view catches up before the clock stops
    std::printf("  (%lld ms reading into the list, %lld ms for the view)\n", static_cast<long long>(read),
                static_cast<long long>(t.elapsed() - read));
    return t.elapsed();
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
    QTemporaryDir dir;

    constexpr int lines = 1'000'000;
    const QString many = dir.filePath(QStringLiteral("many.txt"));
    {
        QByteArray text;
        text.reserve(lines * 21);
        for (int i = 0; i < lines; ++i)
            text += "Location " + QByteArray::number(100000 + i) + " MA\r\n";
        QFile file(many);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return 1;
    }
    const qint64 manySize = QFile(many).size();
    const qint64 manyMs = load(form, fake, many);
    const int manyCount = list.count();
    const bool manyRight =
        manyCount == lines && list.locationAt(lines) == QStringLiteral("Location 1099999 MA");
    list.clear();

    constexpr qint64 longSize = 100LL * 1024 * 1024;
    const QString longLine = dir.filePath(QStringLiteral("one-line.txt"));
    {
        QFile file(longLine);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray block(1 << 20, 'x');
        for (qint64 written = 0; written < longSize; written += block.size())
            if (file.write(block) != block.size())
                return 1;
    }
    const qint64 longMs = load(form, fake, longLine);
    const bool longRight = list.count() == 1 && list.locationAt(1).size() == longSize;

    std::printf("%d lines, %.1f MB: %d locations in %lld ms (target <= 1500 ms)%s\n", lines, manySize / 1e6,
                manyCount, static_cast<long long>(manyMs), manyRight ? "" : "  WRONG RESULT");
    std::printf("one line without line end, %.1f MB: %d location(s) of %lld characters in %lld ms%s\n",
                longSize / 1e6, list.count(),
                static_cast<long long>(list.count() ? list.locationAt(1).size() : 0),
                static_cast<long long>(longMs), longRight ? "" : "  WRONG RESULT");
    std::printf("boxes shown: %zu\n", fake.window.boxes.size());
    return manyRight && longRight && fake.window.boxes.empty() ? 0 : 1;
}
