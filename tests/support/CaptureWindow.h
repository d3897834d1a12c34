#pragma once

#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

// The program's window ready for a capture run against a map server on loopback: the real
// network code and conversions, every other platform interface on test doubles, the pictures
// going to a fresh output folder and the work files to a private TEMP.
struct CaptureWindow
{
    CaptureWindow(Network& network, ImageFormat& images, const QString& mapBaseUrl, const QString& zoom)
        : platform{fake.window, fake.settings, network, images, fake.dialogs, fake.skin, fake.shell},
          form(platform)
    {
        form.setMapBaseUrl(mapBaseUrl);
        fake.shell.variables.insert(QStringLiteral("TEMP"), temp.path());
        form.Text1->setText(out.path() + u'/');
        form.Text2->setText(zoom);
    }

    // The JPGs in the output folder, by name.
    QStringList jpgs() const
    {
        return QDir(out.path()).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    }

    // The JPGs a run of the sample locations writes at zoom.
    static QStringList sampleJpgs(const QString& zoom)
    {
        QStringList names;
        for (const char* sample : {"Haverhill MA", "Londonderry NH USA", "Londonderry UK"})
            names << QStringLiteral("%1_%2.jpg").arg(QLatin1String(sample), zoom);
        return names;
    }

    TestPlatform fake;
    QTemporaryDir out;
    QTemporaryDir temp;
    Platform platform;
    Form1 form; // first to go, before the folders it wrote into
};
