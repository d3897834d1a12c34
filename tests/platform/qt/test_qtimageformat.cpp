#include "platform/PlatformError.h"
#include "platform/qt/QtImageFormat.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A 1 x 1 GIF; the same with a header that promises 65535 x 65535 pixels.
const QByteArray TinyGif = QByteArray::fromHex("474946383961010001008000"
                                               "00ffffff000000"
                                               "2c000000000100010000"
                                               "0202440100"
                                               "3b");
const QByteArray HugeGif = QByteArray::fromHex("474946383961ffffffff8000"
                                               "00ffffff000000"
                                               "2c00000000ffffffff00"
                                               "0202440100"
                                               "3b");

QImage Picture()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::darkGreen);
    for (int x = 0; x < 64; x += 4)
        painter.drawLine(x, 0, 63 - x, 47);
    return image;
}

QByteArray Encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

} // namespace

// The real conversions on images the test makes itself, and on inputs a server could send.
class TestQtImageFormat : public QObject
{
    Q_OBJECT

    QtImageFormat images;
    std::unique_ptr<QTemporaryDir> dir;

    QString path(const char* name) const { return dir->filePath(QString::fromLatin1(name)); }
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

    void converts_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("quality");
        QTest::newRow("gif") << TinyGif << QSize(1, 1) << 85;
        QTest::newRow("png, quality 1") << Encoded(Picture(), "png") << QSize(64, 48) << 1;
        QTest::newRow("bmp, quality 100") << Encoded(Picture(), "bmp") << QSize(64, 48) << 100;
        QTest::newRow("jpeg") << Encoded(Picture(), "jpeg") << QSize(64, 48) << 50;
    }
    void converts()
    {
        QFETCH(QByteArray, source);
        QFETCH(QSize, size);
        QFETCH(int, quality);
        put("in.gif", source); // the served image keeps the work file's name, whatever it is
        put("out.jpg", "an earlier result");
        images.imageToBitmap(path("in.gif"), path("work.bmp"));
        QCOMPARE(QImageReader(path("work.bmp")).format(), QByteArray("bmp"));
        images.bitmapToJpeg(path("work.bmp"), path("out.jpg"), quality);
        // Exactly the quality asked for: the same bytes Qt's encoder gives at that quality.
        QCOMPARE(contents("out.jpg"), Encoded(QImage(path("work.bmp")), "jpeg", quality));
        QCOMPARE(QImage(path("out.jpg")).size(), size);
        QCOMPARE(QDir(dir->path()).count(), 5u);
    }

    void refuses_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("reason");
        const QByteArray png = Encoded(Picture(), "png");
        QTest::newRow("zero bytes") << QByteArray() << "is empty";
        QTest::newRow("an html page")
            << QByteArray("<html><body>busy</body></html>") << "is not a GIF or PNG";
        QTest::newRow("another format Qt reads") << Encoded(Picture(), "ppm") << "is not a GIF or PNG";
        QTest::newRow("truncated png") << png.left(png.size() / 2) << "Cannot read the image";
        QTest::newRow("gif header only") << TinyGif.left(13) << "Cannot read the image";
        QTest::newRow("65535 x 65535") << HugeGif << "declares 65535 x 65535 pixels";
    }
    void refuses()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, reason);
        put("in.gif", source);
        put("work.bmp", "an earlier work file");
        try {
            images.imageToBitmap(path("in.gif"), path("work.bmp"));
            QFAIL("converted");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().contains(reason), qPrintable(e.description()));
        }
        QCOMPARE(contents("work.bmp"), QByteArray("an earlier work file"));
        QCOMPARE(QDir(dir->path()).count(), 4u);
    }

    // A JPG is replaced only by a complete one, and a failure leaves nothing half-written.
    void jpegFailures()
    {
        put("out.jpg", "an earlier result");
        put("not.bmp", Encoded(Picture(), "png"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, images.bitmapToJpeg(path("not.bmp"), path("out.jpg"), 85));
        QVERIFY_THROWS_EXCEPTION(PlatformError,
                                 images.bitmapToJpeg(path("missing.bmp"), path("out.jpg"), 85));
        QCOMPARE(contents("out.jpg"), QByteArray("an earlier result"));
        put("in.bmp", Encoded(Picture(), "bmp"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, images.bitmapToJpeg(path("in.bmp"), path("no/out.jpg"), 85));
        QVERIFY_THROWS_EXCEPTION(PlatformError, images.bitmapToJpeg(path("in.bmp"), QString(), 85));
        QCOMPARE(
            QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("in.bmp"), QStringLiteral("not.bmp"), QStringLiteral("out.jpg")}));
    }
};

QTEST_MAIN(TestQtImageFormat)
#include "test_qtimageformat.moc"
