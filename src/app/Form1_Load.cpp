#include "app/Form1.h"
#include "app/Guard.h"
#include "app/Settings.h"
#include "app/Startup.h"
#include "capture/FileHelpers.h"
#include "capture/NumberText.h"
#include "capture/Options.h"
#include "locations/LocationList.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTreeView>

// Start-up and shut-down of the main window.

QString ApplicationTitle(const QString& productName)
{
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break; // nothing left to cut: a one-word name is its own title
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {32, 48, 128, 256}) {
        const QString path = QStringLiteral(":/orrowdale/icons/orrowdale-%1.png").arg(size);
        const QPixmap pixmap(path);
        if (pixmap.isNull())
            throw PlatformError(QStringLiteral("The program's icon %1 is missing").arg(path));
        icon.addPixmap(pixmap);
    }
    return icon;
}

void ApplySkin(QWidget& window, Skin& skin, const QString& skinFile)
{
    // Only a regular file counts; a folder of that name does not.
    if (!QFileInfo(skinFile).isFile())
        return;

    // The button face follows the user's colour scheme, as the skin's base.
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    auto paint = [&](QWidget& w) {
        QPalette palette = w.palette();
        palette.setColor(QPalette::Window, buttonFace);
        w.setPalette(palette);
        w.setAutoFillBackground(true);
    };
    paint(window);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child) ||
            qobject_cast<QCheckBox*>(child) || qobject_cast<QRadioButton*>(child))
            paint(*child);
    }

    skin.loadSkin(skinFile, QString());
    skin.setOptions(skin.options() | 1u);
    skin.setApplyToDialogs(true);
    skin.setApplyToFrames(true);
    skin.applyWindow(window);
}

QString SavedListText(const LocationList& list)
{
    qsizetype length = 0;
    for (int i = 1; i <= list.count(); ++i)
        length += list.locationAt(i).size() + 1;
    QString text;
    text.reserve(length);
    // Written as they stand, without escaping: a ";" inside a location splits it at the next start.
    for (int i = 1; i <= list.count(); ++i) {
        text += list.locationAt(i);
        text += QLatin1Char(';');
    }
    return text;
}

namespace {

// The list as a list file: one location a line, so that "Load List Of Locations From File"
// brings it back; a ";" inside a location survives this way too.
QString ListFileText(const LocationList& list)
{
    QString text;
    for (int i = 1; i <= list.count(); ++i) {
        text += list.locationAt(i);
        text += QStringLiteral("\r\n");
    }
    return text;
}

} // namespace

void Form1::Form_Load()
{
    Guard g(m_platform.window, QStringLiteral("Form_Load"));
    const QChar sep = PathSeparator();
    g(102, [&] {
        const QString folder = m_platform.shell.programFolder();
        ApplySkin(*this, SkinFramework1, folder + sep + QLatin1Char('x') + sep + QStringLiteral("o.cjs"));
    });
    g(106, [&] { setWindowTitle(QStringLiteral("Orrowdale")); });
    g(106, [&] { setWindowIcon(ProgramIcon()); });
    g(106, [&] { m_platform.window.setApplicationTitle(ApplicationTitle(QStringLiteral("Orrowdale"))); });
    QString handPointer;
    if (g.block(108, [&] {
            handPointer = m_platform.shell.programFolder() + sep + QStringLiteral("HAND-M.CUR");
            return FileExists(handPointer);
        }))
        g(110, [&] { m_customPointer = m_platform.window.loadCursor(handPointer); });

    g(130, [&] { m_locations->setHeaderText(QStringLiteral("Google Map Location(s)")); });
    g(132, [&] { ListView1->setColumnWidth(0, qRound(7000 / 15.0)); });
    QString saved;
    g.assign(134, saved, [&] {
        // Until it is read, the saved list must not be replaced by the close.
        m_savedListUnread = true;
        QString text = Settings::read(m_platform.settings, QStringLiteral("Zip Codes"), QString());
        m_savedListUnread = false;
        return text;
    });
    if (g.block(136, [&] { return !saved.isEmpty(); })) {
        QStringList pieces;
        g.assign(138, pieces, [&] { return saved.split(QLatin1Char(';')); });
        saved = QString();
        // 140: every piece from the first to the last, however many (146 moves on to the next).
        // The pieces reach the list together, so the view hears of them once, not once each.
        QStringList restored;
        restored.reserve(pieces.size());
        for (const QString& piece : std::as_const(pieces)) {
            if (g.block(142, [&] { return !piece.isEmpty(); }))
                g(144, [&] { restored.append(piece); });
        }
        pieces.clear();
        g(144, [&] { m_locations->appendMany(std::move(restored)); });
    }

    g(148, [&] {
        // Looked up on every start, before the setting is read: without a desktop the box
        // keeps its empty text and the stored folder stays as it is.
        const QString desktop = m_platform.shell.desktopFolder() + sep;
        setBoxText(Text1, Settings::read(m_platform.settings, QStringLiteral("Output Folder"), desktop));
    });
    g(150, [&] {
        setBoxText(Text2, Settings::read(m_platform.settings, QStringLiteral("Zoom"), QStringLiteral("1")));
    });
    g(152, [&] {
        const QString stored =
            Settings::read(m_platform.settings, QStringLiteral("Slider1"), QStringLiteral("85"));
        const std::optional<int> quality = WholeNumber(stored);
        if (!quality)
            throw PlatformError(
                QStringLiteral("Type mismatch: the saved JPG quality \"%1\" is not a number").arg(stored));
        if (*quality < Slider1->minimum() || *quality > Slider1->maximum())
            throw PlatformError(
                QStringLiteral("Invalid property value: the saved JPG quality %1 is not within %2 to %3")
                    .arg(*quality)
                    .arg(Slider1->minimum())
                    .arg(Slider1->maximum()));
        // Restoring the value is no click: nothing to store, and the caption is 154's.
        const QSignalBlocker quiet(Slider1);
        Slider1->setValue(*quality);
    });
    g(154, [&] { Frame3->setTitle(QualityCaption(Slider1->value())); });
}

bool Form1::Form_QueryUnload()
{
    if (m_savedListUnread) {
        // Storing now would put this window's list, often empty, in the place of a saved list
        // that may be whole and only unreadable for a while.
        if (m_locations->count() == 0)
            return true;
        QString where;
        const auto failure = FailureOf([&] {
            where = Settings::storeAside(m_platform.settings, QStringLiteral("Zip Codes"),
                                         ListFileText(*m_locations));
        });
        if (failure)
            return holdCloseOnce(*failure,
                                 QStringLiteral("The saved list of locations could not be read when "
                                                "Orrowdale started and is left as it is. The list "
                                                "of locations is not saved. Close the window again "
                                                "to quit without saving it."));
        m_platform.window.messageBox(
            QStringLiteral("The saved list of locations could not be read when Orrowdale started, so it is "
                           "left as it is. The %1 location(s) of this window are saved in %2; \"Load List "
                           "Of Locations From File\" brings them back.")
                .arg(m_locations->count())
                .arg(where),
            MessageStyle::Exclamation);
        return true;
    }
    const auto failure = FailureOf([&] {
        Settings::store(m_platform.settings, QStringLiteral("Zip Codes"), SavedListText(*m_locations));
    });
    if (!failure)
        return true;
    return holdCloseOnce(*failure,
                         QStringLiteral("The list of locations is not saved. Close the window again "
                                        "to quit without saving it."));
}

bool Form1::holdCloseOnce(const QString& failure, const QString& warning)
{
    if (m_listSaveRefused)
        return true;
    // Ending now would lose the list without a word. Say so, and let the next close go ahead.
    m_listSaveRefused = true;
    m_platform.window.messageBox(failure + QStringLiteral("\r\r") + warning, MessageStyle::Exclamation);
    return false;
}

void Form1::Form_Unload()
{
    if (m_endHook) {
        // Whatever the hook meets, the program still ends.
        try {
            m_endHook();
        } catch (const ProgramEnded&) {
            throw;
        } catch (...) {
        }
    }
    m_platform.window.endProgram();
}
