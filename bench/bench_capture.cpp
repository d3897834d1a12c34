// The local work of one capture location (page file, scan of a 1 MB page, GIF work file, both
// conversions, removals) for a 640 x 640 GIF, timed side by side with ImageMagick's
// `convert in.gif -quality 85 out.jpg` on the same image. Then the scan alone on pages of one
// long line without any carriage return, to show its time grows with the page, not faster.
#include "Clocks.h"
#include "capture/FileHelpers.h"
#include "capture/PageScan.h"
#include "platform/qt/QtImageFormat.h"
#include "support/FakeWindowSystem.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

const QString Base = QStringLiteral("http://maps.test");
constexpr int Rounds = 31;

// Something like a map: blocks of land use, a grid of roads, a river.
QImage MapPicture()
{
    QImage image(640, 640, QImage::Format_RGB32);
    image.fill(QColor(0xf2, 0xef, 0xe9));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int y = 0; y < 640; y += 40)
        for (int x = 0; x < 640; x += 40)
            p.fillRect(x + 4, y + 4, 32, 32,
                       ((x * 7 + y * 3) / 40) % 5 == 0 ? QColor(0xc8, 0xe6, 0xc0) : QColor(0xe8, 0xe4, 0xdc));
    p.setPen(QPen(QColor(0xff, 0xd5, 0x80), 5));
    for (int i = 0; i < 640; i += 80) {
        p.drawLine(i, 0, i + 120, 640);
        p.drawLine(0, i, 640, i + 60);
    }
    p.setPen(QPen(QColor(0xaa, 0xd3, 0xdf), 12));
    p.drawArc(-200, 100, 1000, 600, 0, 180 * 16);
    return image;
}

QByteArray OneMegabytePage()
{
    QByteArray page;
    for (int i = 0; page.size() < (1 << 20); ++i)
        page +=
            "<div class=\"row\" id=\"r" + QByteArray::number(i) + "\">search results and scripts</div>\r\n";
    page += "<img src=" + Base.toLatin1() + "/mapdata?id=1&w=640 style=\"border:0\">\r\n</html>\r\n";
    return page;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // Debian's own binary, not whatever wrapper may stand first in PATH.
    QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"), {QStringLiteral("/usr/bin")});
    if (convert.isEmpty())
        convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        std::puts("ImageMagick's convert is not installed");
        return 1;
    }

    // The served image: drawn here, made a GIF by ImageMagick (Qt writes no GIF).
    const QString png = dir.filePath(QStringLiteral("map.png"));
    const QString gif = dir.filePath(QStringLiteral("in.gif"));
    MapPicture().save(png);
    if (QProcess::execute(convert, {png, gif}) != 0)
        qFatal("convert could not make the GIF");
    QFile gifFile(gif);
    gifFile.open(QIODevice::ReadOnly);
    const QByteArray image = gifFile.readAll();
    const QByteArray page = OneMegabytePage();
    const QByteArray pattern = ImageReferencePattern(Base);

    FakeWindowSystem window;
    QtImageFormat images;
    const QString pagePath = dir.filePath(QStringLiteral("map.html"));
    const QString stem = dir.filePath(QStringLiteral("Haverhill MA_5."));
    QList<double> ours, oursCpu;
    QList<double> theirs, theirsCpu;
    QElapsedTimer t;
    for (int round = 0; round < Rounds; ++round) {
        double cpu = bench::cpuMs();
        t.start();
        RemoveFile(window, pagePath);
        WriteFile(pagePath, page);
        QFile pageFile(pagePath);
        pageFile.open(QIODevice::ReadOnly);
        if (LastImageReference(pageFile, pattern).isEmpty())
            qFatal("no reference found");
        pageFile.close();
        WriteFile(stem + QStringLiteral("gif"), image);
        images.imageToBitmap(stem + QStringLiteral("gif"), stem + QStringLiteral("bmp"));
        images.bitmapToJpeg(stem + QStringLiteral("bmp"), stem + QStringLiteral("jpg"), 85);
        RemoveFile(window, pagePath);
        RemoveFile(window, stem + QStringLiteral("gif"));
        RemoveFile(window, stem + QStringLiteral("bmp"));
        ours.push_back(t.nsecsElapsed() / 1e6);
        oursCpu.push_back(bench::cpuMs() - cpu);
        cpu = bench::childrenCpuMs();

        t.start();
        if (QProcess::execute(convert, {gif, QStringLiteral("-quality"), QStringLiteral("85"),
                                        dir.filePath(QStringLiteral("out.jpg"))}) != 0)
            qFatal("convert failed");
        theirs.push_back(t.nsecsElapsed() / 1e6);
        theirsCpu.push_back(bench::childrenCpuMs() - cpu);
    }
    const double a = bench::median(ours);
    const double b = bench::median(theirs);
    std::printf("one location, 640x640 GIF, 1 MB page (median of %d):\n", Rounds);
    std::printf("  Orrowdale local work   %8.2f ms\n", a);
    std::printf("  convert -quality 85    %8.2f ms  (%s)\n", b, qPrintable(convert));
    std::printf("  ratio                  %8.2f  (target <= 0.50)\n", a / b);
    std::printf("  processor time         %8.2f ms against %.2f ms: %.2f\n", bench::median(oursCpu),
                bench::median(theirsCpu), bench::median(oursCpu) / bench::median(theirsCpu));

    std::printf("scan of a page without carriage returns:\n");
    for (int megabytes : {10, 100}) {
        QByteArray flat(qsizetype(megabytes) << 20, 'a');
        for (qsizetype i = 0; i < flat.size(); i += 4096)
            flat[i] = '\n';
        flat += "img src=" + Base.toLatin1() + "/mapdata?id=1 style=x";
        QBuffer buffer(&flat);
        buffer.open(QIODevice::ReadOnly);
        t.start();
        if (LastImageReference(buffer, pattern).isEmpty())
            qFatal("no reference found");
        const double ms = t.nsecsElapsed() / 1e6;
        std::printf("  %4d MB  %8.1f ms  %7.0f MB/s\n", megabytes, ms, megabytes / (ms / 1000));
    }
    return 0;
}
