#include "app/Form1.h"
#include "app/Guard.h"
#include "capture/FileHelpers.h"
#include "capture/NumberText.h"
#include "capture/PageScan.h"
#include "capture/URLMon.h"
#include "capture/WorkFolder.h"
#include "locations/LocationList.h"
#include "platform/Files.h"
#include "platform/Network.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSlider>
#include <QUrl>

#include <optional>

// The capture run: every location of the list becomes a JPG file in the output folder.

namespace {

// Blanks only: a tab around a location is part of its search.
QString TrimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && text.at(first) == u' ')
        ++first;
    while (end > first && text.at(end - 1) == u' ')
        --end;
    return text.mid(first, end - first);
}

QString TrimTrailingSpaces(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ')
        --end;
    return text.left(end);
}

// The search goes in as one query value, so a "#", "&" or "+" in a location can neither cut
// the query short nor change its other values.
QString PageRequestUrl(const QString& baseUrl, const QString& search)
{
    return baseUrl + QStringLiteral("/maps?f=q&source=s_q&output=html&hl=en&q=") +
           QString::fromLatin1(QUrl::toPercentEncoding(search)) + QStringLiteral("&zoom=1");
}

// 64 bits, so that one less than the smallest zoom a text can name still fits.
qint64 ZoomNumber(const QString& text)
{
    const std::optional<int> zoom = WholeNumber(text);
    if (!zoom)
        throw PlatformError(QStringLiteral("The zoom \"%1\" is not a number").arg(text));
    return *zoom;
}

// Location i of n as a share of 100. A list that shrank under the run can make n smaller than
// i, or nothing: the bar then shows the run complete rather than more than complete.
double Progress(int i, int n, bool wholePart)
{
    if (n <= 0 || i >= n)
        return 100.0;
    // Exact whole part: 29 of 100 is 29, not the 28.999... that dividing first would give.
    return wholePart ? static_cast<double>(qint64(i) * 100 / n) : qint64(i) * 100.0 / n;
}

void OpenForReading(QFile& file)
{
    CheckPath(file.fileName(), QStringLiteral("Cannot open the map page"));
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(QStringLiteral("Cannot open the map page \"%1\": %2")
                                .arg(ShownPath(file.fileName()), file.errorString()));
}

// The image file is made beside its name and takes the name when it is closed, so a file or a
// link already at the name is replaced, never written through.
void OpenForWriting(std::optional<ReplacingFile>& file, const QString& path)
{
    // Without a stem there is no name, and a bare "gif" would land wherever the program runs.
    if (path.isEmpty())
        throw PlatformError(QStringLiteral("The image file has no name, since the zoom could not be read"));
    file.emplace(path, ReplacingFile::Kind::Work);
    file->open();
}

void NotConvertedUnless(bool written, const QString& path)
{
    if (!written)
        throw PlatformError(
            QStringLiteral("The image file \"%1\" was not written for this location, so it is not converted")
                .arg(ShownPath(path)));
}

void WriteAll(std::optional<ReplacingFile>& file, const QString& path, const QByteArray& bytes)
{
    if (!file || !file->isOpen())
        throw PlatformError(
            path.isEmpty()
                ? QStringLiteral("Cannot write the image file: it has no name")
                : QStringLiteral("Cannot write \"%1\": it could not be created").arg(ShownPath(path)));
    if (file->device().write(bytes) != bytes.size()) {
        const QString reason = file->device().errorString();
        file->discard(); // nothing half-written takes the name
        throw PlatformError(QStringLiteral("Cannot write \"%1\": %2").arg(ShownPath(path), reason));
    }
}

// The image of a location, or the reason there is none, told by what the user knows: the
// location, not the addresses the run made of it.
QByteArray FetchImage(Network& network, const QString& search, const QString& reference,
                      const QString& imageUrl, const QString& pageFailure)
{
    const QString shown = VisibleText(search);
    if (TrimTrailingSpaces(reference).isEmpty()) {
        if (!pageFailure.isEmpty())
            throw PlatformError(
                QStringLiteral("The map page for \"%1\" could not be fetched: %2").arg(shown, pageFailure));
        throw PlatformError(QStringLiteral("The map page for \"%1\" shows no map image").arg(shown));
    }
    if (imageUrl.isEmpty())
        throw PlatformError(
            QStringLiteral("The map image for \"%1\" has no address, since the zoom could not be read")
                .arg(shown));
    try {
        return network.openUrl(imageUrl);
    } catch (const FetchError& e) {
        throw PlatformError(
            QStringLiteral("The map image for \"%1\" could not be fetched: %2").arg(shown, e.reason()));
    }
}

template <typename LocationAt>
void ExpectNext(Network& network, const QString& baseUrl, const QByteArray& pattern, const QString& zoomText,
                std::optional<int> next, LocationAt locationAt) noexcept
{
    if (!next)
        return;
    try {
        const QString zoom = QStringLiteral("&zl=") + QString::number(ZoomNumber(zoomText) - 1);
        network.expect(PageRequestUrl(baseUrl, TrimSpaces(locationAt(*next))),
                       [pattern, zoom](QByteArray page) {
                           QBuffer buffer(&page);
                           buffer.open(QIODevice::ReadOnly);
                           const QString reference = TrimTrailingSpaces(LastImageReference(buffer, pattern));
                           return reference.isEmpty() ? QString() : reference + zoom;
                       });
    } catch (...) {
        // no hint, then: the next location is fetched when its turn comes
    }
}

} // namespace

void Form1::PushButton17_Click()
{
    // One run at a time: a click while a run lets the window work would start a second run
    // over the first one's work files.
    if (m_captureRunning)
        return;
    m_captureRunning = true;

    WindowSystem& window = m_platform.window;
    WorkFolder work;
    QString gifPath; // the current location's work files
    QString bmpPath;
    // Closing the window mid-run ends the program where it stands; the work files go with it.
    setEndHook([&] {
        for (const QString& path : {gifPath, bmpPath})
            if (!path.isEmpty() && RefusedCharacterAt(path) < 0)
                QFile::remove(path);
        work.remove();
    });
    const auto finished = qScopeGuard([this] {
        setEndHook({});
        m_captureRunning = false;
    });

    Guard g(window, QStringLiteral("PushButton17_Click"));
    g(100, [&] { setPointerShape(PointerShape::Busy); });
    if (g.test(102, [&] { return m_locations->count() == 0; })) {
        g(198, [&] { window.messageBox(QStringLiteral("No files added."), MessageStyle::OkOnly); });
        g(198, [&] { setPointerShape(PointerShape::Ordinary); });
        return;
    }
    if (g.test(104, [&] { return !IsFolder(Text1->text()); })) {
        g(196, [&] {
            window.messageBox(QStringLiteral("Folder does not exist. Please select another folder."),
                              MessageStyle::OkOnly);
        });
        g(196, [&] { setPointerShape(PointerShape::Ordinary); });
        return;
    }

    int last = 0;
    g(106, [&] { last = m_locations->count(); });
    g(106, [&] {
        const QString temp = m_platform.shell.environment(QStringLiteral("TEMP"));
        work.create(temp.isEmpty() ? QDir::tempPath() : temp);
    });
    // Empty when the folder could not be made: then no page is fetched at all.
    const QString pagePath = work.filePath(QStringLiteral("map.html"));
    const QByteArray pattern = ImageReferencePattern(m_mapBaseUrl);

    for (int i = 1; i <= last; ++i) {
        // Nothing carries over from the location before.
        QString location;
        QString reference;
        QString imageUrl;
        QByteArray image;
        QString name;
        QString stem;
        QString jpgPath;
        QString pageFailure;
        gifPath.clear();
        bmpPath.clear();

        g(108, [&] { RemoveFile(window, pagePath); });
        // The list may have shrunk while the window had its turn: its new end ends the run.
        if (i > m_locations->count())
            break;
        g.assign(110, location, [&] { return m_locations->locationAt(i); });
        const QString search = TrimSpaces(location);
        g(112, [&] { ProgressBar1->setPercent(Progress(i, m_locations->count(), true)); });
        g(114, [&] { ProgressBar1->setText(QStringLiteral("Processing: ") + FileNamePart(location)); });
        g(116, [&] { window.yield(); });

        // The page and the image address in it.
        g(118, [&] {
            DownloadToFile(window, Inet1, PageRequestUrl(m_mapBaseUrl, search), pagePath, &pageFailure);
            if (pagePath.isEmpty())
                pageFailure = QStringLiteral("the work folder to keep it in could not be made");
        });
        if (g.block(120, [&] { return FileExists(pagePath); })) {
            QFile page;
            g(122, [&] { page.setFileName(pagePath); });
            const bool opened = g.test(124, [&] {
                OpenForReading(page);
                return true;
            });
            PageLines lines(page);
            // A page that can't be read is reported once and its scan ends there.
            while (opened && g.test(126, [&] { return !lines.atEnd(); })) {
                QByteArrayView line;
                if (!g.test(128, [&] {
                        line = lines.next();
                        return true;
                    }))
                    break;
                qsizetype p = -1;
                g(130, [&] { p = FindPattern(line, pattern); });
                if (g.test(132, [&] { return p < 0; }))
                    continue;
                g(134, [&] { p += 8; }); // past "img src=", to the base URL
                qsizetype styleAt = -1;
                g(136, [&] { styleAt = FindStyle(line, p); });
                g(138, [&] { reference = CutImageReference(line, p, styleAt); });
            }
            g(140, [&] { page.close(); });
        }

        // The image.
        g.assign(142, imageUrl, [&] {
            return TrimTrailingSpaces(reference) + QStringLiteral("&zl=") +
                   QString::number(ZoomNumber(Text2->text()) - 1);
        });
        g(144, [&] { image.clear(); });
        g.assign(146, image, [&] { return FetchImage(Inet1, search, reference, imageUrl, pageFailure); });

        // The file names: the characters no file system takes become blanks.
        g.assign(148, name, [&] { return search; });
        g(150, [&] { name.replace(u'/', u' '); });
        g(152, [&] { name.replace(u'*', u' '); });
        g(154, [&] { name.replace(u'?', u' '); });
        g(156, [&] { name.replace(u'<', u' '); });
        g(158, [&] { name.replace(u'>', u' '); });
        g(160, [&] { name.replace(u'|', u' '); });
        g.assign(162, stem, [&] {
            return Text1->text() + name + QStringLiteral("_") + QString::number(ZoomNumber(Text2->text())) +
                   QStringLiteral(".");
        });
        // Without a stem the paths stay empty, and the steps that need them fail and say so.
        g(164, [&] {
            if (!stem.isEmpty()) {
                gifPath = stem + QStringLiteral("gif");
                bmpPath = stem + QStringLiteral("bmp");
            }
        });
        g(166, [&] {
            if (!stem.isEmpty())
                jpgPath = stem + QStringLiteral("jpg");
        });

        // While this picture is converted, the next location's page and picture may be on their
        // way. Only a hint: nothing of it is reported, and a list or zoom changed meanwhile only
        // means the next fetches go out as usual.
        ExpectNext(Inet1, m_mapBaseUrl, pattern, Text2->text(),
                   i < last && i < m_locations->count() ? std::optional(i + 1) : std::nullopt,
                   [this](int at) { return m_locations->locationAt(at); });

        // The image as it came, then the two conversions.
        // A file that stands at a work file's name but was not written for this location (left
        // by an earlier run, or made read-only by the user) is never converted in its place.
        std::optional<ReplacingFile> gif;
        bool gifWritten = false;
        bool bmpWritten = false;
        g(168, [&] { OpenForWriting(gif, gifPath); });
        g(170, [&] { WriteAll(gif, gifPath, image); });
        g(172, [&] {
            if (gif && gif->isOpen()) {
                gif->commit();
                gifWritten = true;
            }
        });
        g(174, [&] {
            NotConvertedUnless(gifWritten, gifPath);
            PicFormat321.imageToBitmap(gifPath, bmpPath);
            bmpWritten = true;
        });
        g(176, [&] {
            NotConvertedUnless(bmpWritten, bmpPath);
            PicFormat321.bitmapToJpeg(bmpPath, jpgPath, Slider1->value());
        });

        g(178, [&] { RemoveFile(window, pagePath); });
        g(180, [&] { RemoveFile(window, gifPath); });
        g(182, [&] { RemoveFile(window, bmpPath); });
        g(184, [&] { ProgressBar1->setPercent(Progress(i, m_locations->count(), false)); });
    }
    work.remove();

    g(188, [&] { setPointerShape(PointerShape::Ordinary); });
    g(190, [&] { ProgressBar1->setPercent(0); });
    g(192, [&] { ProgressBar1->setText(QStringLiteral("Progress Bar")); });
    g(194, [&] { window.messageBox(QStringLiteral("Done."), MessageStyle::OkOnly); });
}
