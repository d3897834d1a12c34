#include "../providers/MapFileWriter.h"
#include "Gateway.h"
#include "ProviderSources.h"
#include "RawHttp.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Counts what it is asked and answers at once.
class CountingSource : public MapSource
{
public:
    explicit CountingSource(int* asked) : m_asked(asked) {}
    void render(const MapRequest&, QDeadlineTimer, Done done) override
    {
        ++*m_asked;
        MapAnswer a;
        a.contentType = "image/png";
        a.body = "PNG-of-the-provider";
        done(a);
    }

private:
    int* m_asked;
};

const QByteArray UserText =
    "# mine\n[gateway]\nsource = demo\n[static]\nurl = http://127.0.0.1:9/m?q={search}\n";
// %P% stands for the port, %T% for the token of the page's form.
const QByteArray Post = "POST /settings HTTP/1.1\r\nHost: 127.0.0.1:%P%\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\n";
const QByteArray OwnPost = Post + "Origin: http://127.0.0.1:%P%\r\n";
const QByteArray Save = "token=%T%&source=static&key=k-1234567890&marker=on&action=save";
const QByteArray Preview = QByteArray(Save).replace("action=save", "place=Haverhill+MA&action=preview");

// A form sent; the file before it (UserText when empty) and, when given, the file saved.
struct Write
{
    const char* name;
    QByteArray request, body;
    int status;
    QByteArray reason, before, after;
};
const Write Writes[] = {
    {"own page saves", OwnPost, Save, 303, "See Other", "", ""},
    {"no Origin", Post, Save, 403, "Refused: settings change only from the gateway's own page", "", ""},
    {"Origin null", Post + "Origin: null\r\n", Preview, 403,
     "Refused: the settings page answers its own page only", "", ""},
    {"rebound name", QByteArray(OwnPost).replace("127.0.0.1", "attacker.example"), Save, 403,
     "Refused: the settings page answers only requests addressed to 127.0.0.1:%P%", "", ""},
    {"guessed token", OwnPost, QByteArray(Preview).replace("%T%", "x"), 403,
     "Refused: the form is out of date; open the settings page again", "", ""},
    {"not a form", QByteArray(OwnPost).replace("x-www-form-urlencoded", "plain"), Save, 403,
     "Refused: the settings page takes its own form only", "", ""},
    {"a line break in the key", OwnPost,
     QByteArray(Save).replace("key=k-1234567890", "key=k%0A%5Bgateway%5D%0Asource%3Ddemo"), 200, "OK", "",
     ""},
    // A style or server saved for one provider is not carried over to another one.
    {"another provider gets its own defaults", OwnPost,
     "token=%T%&source=maptiler&key=k&style=dark&server=http%3A%2F%2F127.0.0.1%3A9&action=save", 303,
     "See Other", "[gateway]\nsource = demo\nstyle = dark\nserver = http://127.0.0.1:9\n",
     "[gateway]\nsource = maptiler\nmarker = off\npicture_size = 640\nkey = k\n"},
};

} // namespace

// The settings page over its socket: who may save or preview, and what the page gives away.
class TestSettingsPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Gateway> gateway;
    QString configPath;
    int asked = 0;

    QByteArray fileText() const
    {
        QFile file(configPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool writeFile(const QByteArray& text, QIODevice::OpenMode mode = QIODevice::WriteOnly) const
    {
        QFile file(configPath);
        return file.open(mode) && file.write(text) == text.size();
    }

    // The request with the port and the token of the page's form put in, as the page sends it.
    RawAnswer send(QByteArray request, QByteArray body)
    {
        const RawAnswer page = rawGet(gateway->port(), "/");
        const QRegularExpressionMatch token =
            QRegularExpression(QStringLiteral("name=\"token\" value=\"([^\"]+)\""))
                .match(QString::fromUtf8(page.body));
        body.replace("%T%", token.captured(1).toLatin1());
        request.replace("%P%", QByteArray::number(gateway->port()));
        if (!body.isEmpty()) {
            request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        }
        return rawExchange(gateway->port(), request + "\r\n" + body);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        configPath = dir->filePath(QStringLiteral("gateway.conf"));
        QVERIFY(writeFile(UserText));
        asked = 0;
        Gateway::Options options;
        options.configPath = configPath;
        gateway = std::make_unique<Gateway>(options);
        gateway->setSourceFactory([this](const GatewayConfig&) -> std::unique_ptr<MapSource> {
            return std::make_unique<CountingSource>(&asked);
        });
        QVERIFY(gateway->listen(0));
    }
    void cleanup() { gateway.reset(); }

    // Only the page's own form, from its own origin, with this process's token, changes the file
    // or spends the key; everything else is told why not. The browser test saves and previews as
    // the user does, and tries all three from a page elsewhere.
    void writes_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(Writes)); ++i) {
            QTest::newRow(Writes[i].name) << i;
        }
    }
    void writes()
    {
        QFETCH(int, row);
        const Write& w = Writes[row];
        const QByteArray before = w.before.isEmpty() ? UserText : w.before;
        QVERIFY(writeFile(before));
        const RawAnswer got = send(w.request, w.body);
        QCOMPARE(got.status(), w.status);
        QCOMPARE(got.reason(), QByteArray(w.reason).replace("%P%", QByteArray::number(gateway->port())));
        QCOMPARE(fileText() != before, w.status == 303);
        if (!w.after.isEmpty()) {
            QCOMPARE(fileText(), w.after);
        }
        QCOMPARE(asked, 0);
        QVERIFY(got.head.contains("\r\nLocation: /?saved\r\n") == (w.status == 303));
        QVERIFY(got.body.contains("role=\"alert\"") == (w.status == 200));
    }

    // The page cannot be framed or load anything from elsewhere, and shows the end of a saved key
    // escaped (the browser test sees the key itself kept back).
    void pageGivesNothingAway()
    {
        QVERIFY(writeFile("[gateway]\nkey = secret-key-xa<cd\n", QIODevice::Append));
        // Opened from a link on another site, as a user may.
        const RawAnswer got =
            rawGet(gateway->port(), "/", "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Dest: document\r\n");
        QCOMPARE(got.status(), 200);
        QVERIFY(got.body.contains("ending in \xe2\x80\x9c"
                                  "a&lt;cd\xe2\x80\x9d"));
        QVERIFY(got.head.contains("\r\nX-Frame-Options: DENY\r\n") &&
                got.head.contains("frame-ancestors 'none'") &&
                got.head.contains("\r\nContent-Security-Policy: default-src 'none'; img-src data:;"));
        QVERIFY(!got.body.contains("<script") &&
                !QRegularExpression(QStringLiteral("(src|href)=\"(?!data:|https://)"))
                     .match(QString::fromUtf8(got.body))
                     .hasMatch());
    }

    // Map files on this computer: a preview drawn from the files the form names, the lines the
    // gateway reads saved among the user's own, and a file that cannot be used named.
    void mapFiles()
    {
        gateway->setSourceFactory([](const GatewayConfig& c) { return createProviderSource(c); });
        const QString maps = dir->filePath(QStringLiteral("region.mbtiles"));
        const QString places = dir->filePath(QStringLiteral("places.csv"));
        MapFile map;
        map.zooms = {13};
        map.area = QRect(4094, 4094, 4, 4); // around 0, 0, where the preview is drawn
        map.draw = [](int, int, int, int size) {
            QImage tile(size, size, QImage::Format_RGB32);
            tile.fill(QColor(30, 140, 90));
            return tile;
        };
        QVERIFY(writeMapFile(maps, map));
        QFile placesFile(places);
        QVERIFY(placesFile.open(QIODevice::WriteOnly) && placesFile.write("Nulltown,0.001,0.001\n") > 0);
        placesFile.close();
        auto post = [this](const QString& mapFiles, const QString& placeFiles, const QByteArray& action) {
            return send(OwnPost, "token=%T%&source=mapfiles&place=Nulltown&marker=on&map_files=" +
                                     QUrl::toPercentEncoding(mapFiles) + "&place_files=" +
                                     QUrl::toPercentEncoding(placeFiles) + "&action=" + action);
        };
        // Map files, place files, and what the page says of them.
        const QList<std::tuple<QString, QString, QByteArray>> rows{
            {dir->filePath(QStringLiteral("gone.mbtiles")), places,
             "The map file &quot;gone.mbtiles&quot; is not there"},
            {maps, dir->filePath(QStringLiteral("gone.csv")), "The place file &quot;gone.csv&quot;"},
            {QStringLiteral("region.mbtiles"), places, "needs its whole path"},
            {QString(), places, "Name at least one map file"},
        };
        for (const auto& [mapFiles, placeFiles, says] : rows) {
            const RawAnswer got = post(mapFiles, placeFiles, "preview");
            QVERIFY2(got.body.contains(says), got.body.constData());
            QCOMPARE(fileText(), UserText);
        }
        // The picture is the map file's: its corner is far from the pin and the credits.
        const QRegularExpressionMatch picture =
            QRegularExpression(QStringLiteral("base64,([^\"]+)"))
                .match(QString::fromLatin1(post(maps, places, "preview").body));
        const QImage image = QImage::fromData(QByteArray::fromBase64(picture.captured(1).toLatin1()));
        QCOMPARE(image.size(), QSize(640, 640));
        QCOMPARE(image.pixelColor(10, 10), QColor(30, 140, 90));

        // Saved as the gateway reads it (a path given with its scheme keeps it once), and shown again.
        QCOMPARE(post(maps, QStringLiteral("gazetteer:") + places, "save").status(), 303);
        QVERIFY(fileText().startsWith("# mine\n[gateway]\nsource = tiles\n"));
        QVERIFY(fileText().contains("\n[tiles]\ngeocoder = gazetteer:" + places.toUtf8() +
                                    "\ntiles = mbtiles:" + maps.toUtf8() + "\n"));
        const QByteArray page = rawGet(gateway->port(), "/").body;
        QVERIFY(page.contains("<dd>Map files on this computer</dd>"));
        QVERIFY(page.contains("value=\"mapfiles\" aria-describedby=\"about-mapfiles\" checked"));
        QVERIFY(page.contains("name=\"map_files\" value=\"" + maps.toUtf8() + '"'));
        QVERIFY(page.contains("name=\"place_files\" value=\"" + places.toUtf8() + '"'));
    }
};

QTEST_GUILESS_MAIN(TestSettingsPage)
#include "test_settingspage.moc"
