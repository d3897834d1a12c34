#include "platform/PlatformError.h"
#include "platform/qt/QtImageFormat.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A 1 x 1 GIF.
const QByteArray TinyGif = QByteArray::fromHex("474946383961010001008000"
                                               "00ffffff000000"
                                               "2c000000000100010000"
                                               "0202440100"
                                               "3b");

QByteArray Encoded(const char* format, int quality = -1, QImage image = {})
{
    if (image.isNull()) {
        image = QImage(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

} // namespace

// The formats and failures the map service's pictures don't show: other image formats, cut
// GIFs of every kind, and results that are whole or not written.
class TestQtImageFormat : public QObject
{
    Q_OBJECT

    QtImageFormat images;
    std::unique_ptr<QTemporaryDir> dir;

    QString path(const char* name) const { return dir->filePath(QLatin1String(name)); }
    void put(const char* name, const QByteArray& bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QByteArray contents(const char* name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void convert_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("refusal"); // empty when it converts
        const QByteArray png = Encoded("png");
        QTest::newRow("png") << png << "";
        QTest::newRow("bmp") << Encoded("bmp") << "";
        // Bitmap lines padded to four bytes, and an 8-bit bitmap, on their way to the JPG.
        QImage odd(63, 47, QImage::Format_RGB32);
        for (int y = 0; y < odd.height(); ++y)
            for (int x = 0; x < odd.width(); ++x)
                odd.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) % 256));
        QTest::newRow("odd width") << Encoded("png", -1, odd) << "";
        QTest::newRow("palette") << Encoded("png", -1, odd.convertToFormat(QImage::Format_Indexed8)) << "";
        QTest::newRow("another format Qt reads") << Encoded("ppm") << "is not a GIF or PNG";
        QTest::newRow("truncated png") << png.left(png.size() / 2) << "Cannot read the image";
        QTest::newRow("gif header only") << TinyGif.left(13) << "is cut short";
        QTest::newRow("gif without end mark") << TinyGif.chopped(1) << "is cut short";
    }
    void convert()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, refusal);
        put("in.gif", source); // the served image keeps the work file's name, whatever it is
        put("work.bmp", "an earlier work file");
        put("out.jpg", "an earlier result");
        try {
            images.imageToBitmap(path("in.gif"), path("work.bmp"));
            images.bitmapToJpeg(path("work.bmp"), path("out.jpg"), 42);
            QVERIFY2(refusal.isEmpty(), "converted");
            // Exactly the quality asked for: the bytes Qt's encoder gives at that quality.
            QCOMPARE(contents("out.jpg"), Encoded("jpeg", 42, QImage(path("work.bmp"))));
        } catch (const PlatformError& e) {
            QVERIFY2(!refusal.isEmpty() && e.description().contains(refusal), qPrintable(e.description()));
            QCOMPARE(contents("work.bmp"), QByteArray("an earlier work file"));
        }
        QCOMPARE(QDir(dir->path()).count(), 5u);
    }

    // A JPG is replaced only by a complete one, and a failure leaves nothing half-written.
    void jpegFailures()
    {
        put("out.jpg", "an earlier result");
        put("not.bmp", Encoded("png"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, images.bitmapToJpeg(path("not.bmp"), path("out.jpg"), 85));
        QCOMPARE(contents("out.jpg"), QByteArray("an earlier result"));
        put("in.bmp", Encoded("bmp"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, images.bitmapToJpeg(path("in.bmp"), path("no/out.jpg"), 85));
        QVERIFY_THROWS_EXCEPTION(PlatformError, images.bitmapToJpeg(path("in.bmp"), QString(), 85));
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"in.bmp", "not.bmp", "out.jpg"}));
    }

    // A path holding a NUL would reach the system cut short, naming "victim": refused, by name.
    void refusedNames_data()
    {
        QTest::addColumn<int>("which"); // the path that holds the NUL: source, bitmap, jpeg
        QTest::addColumn<QString>("refusal");
        QTest::newRow("image source") << 0 << "Cannot open the image file";
        QTest::newRow("bitmap written") << 1 << "Cannot create";
        QTest::newRow("bitmap source") << 2 << "Cannot open the image file";
        QTest::newRow("jpeg written") << 3 << "Cannot create";
    }
    void refusedNames()
    {
        QFETCH(int, which);
        QFETCH(QString, refusal);
        put("victim", Encoded("bmp"));
        put("in.bmp", Encoded("bmp"));
        const QString cut = path("victim") + QChar(0) + QStringLiteral("_1.x");
        const QStringList paths{which == 0 ? cut : path("in.bmp"), which == 1 ? cut : path("out.bmp"),
                                which == 2 ? cut : path("in.bmp"), which == 3 ? cut : path("out.jpg")};
        try {
            if (which < 2)
                images.imageToBitmap(paths[0], paths[1]);
            else
                images.bitmapToJpeg(paths[2], paths[3], 85);
            QFAIL("converted");
        } catch (const PlatformError& e) {
            const QString expected = refusal + QStringLiteral(" \"%1\u2400_1.x\": a file name cannot hold a "
                                                              "control character (code 0)")
                                                   .arg(QDir::toNativeSeparators(path("victim")));
            QCOMPARE(e.description(), expected);
        }
        QCOMPARE(contents("victim"), Encoded("bmp"));
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"in.bmp", "victim"}));
    }
};

QTEST_MAIN(TestQtImageFormat)
#include "test_qtimageformat.moc"
