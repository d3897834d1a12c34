// Renders the main window as a user first sees it after a typical start (the samples in the
// list, an output folder, a zoom and a quality), once plain and once wearing our skin.
// Everything outside the window is a test double except the skin, which goes through QtSkin.
#include "app/Form1.h"
#include "platform/qt/QtSkin.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool render(const QString& programFolder, Skin& skin, const QString& path)
{
    TestPlatform fake;
    fake.shell.program = programFolder;
    fake.shell.desktop = QStringLiteral("/home/ada/Desktop");
    fake.settings.set(QStringLiteral("Output Folder"), QStringLiteral("/home/ada/Pictures/Maps/"));
    fake.settings.set(QStringLiteral("Zoom"), QStringLiteral("14"));
    fake.settings.set(QStringLiteral("Slider1"), QStringLiteral("90"));
    Platform platform{fake.window, fake.settings, fake.network, fake.images, fake.dialogs, skin, fake.shell};

    Form1 form(platform);
    form.Form_Load();
    form.PushButton5_Click();
    form.show();
    QApplication::processEvents();
    for (const auto& box : fake.window.boxes)
        std::fprintf(stderr, "the window reported: %s\n", qPrintable(box.text));
    if (!fake.window.boxes.empty())
        return false;
    if (!form.grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orrowdale_screenshot <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    // A program folder of our own: empty for the designed look, then with the skin in x/o.cjs.
    QTemporaryDir plainFolder;
    QTemporaryDir skinnedFolder;
    if (!plainFolder.isValid() || !skinnedFolder.isValid() ||
        !QDir(skinnedFolder.path()).mkdir(QStringLiteral("x")) ||
        !QFile::copy(QStringLiteral(ORROWDALE_SKIN_FILE),
                     skinnedFolder.filePath(QStringLiteral("x/o.cjs")))) {
        std::fprintf(stderr, "cannot prepare a program folder\n");
        return 1;
    }

    QtSkin plainSkin;
    if (!render(plainFolder.path(), plainSkin, out.filePath(QStringLiteral("main-window.png"))))
        return 1;
    // Last: the skin dresses the whole application once applied.
    QtSkin skin;
    if (!render(skinnedFolder.path(), skin, out.filePath(QStringLiteral("main-window-skin.png"))))
        return 1;
    return 0;
}
