#include "platform/qt/QtWindowSystem.h"

#include "platform/PlatformError.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QImage>
#include <QInputDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QWidget>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

QString QtWindowSystem::displayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void QtWindowSystem::messageBox(const QString& text, int style, const QString& title)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title.isEmpty() ? m_title : title);
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    box.setIcon((style & 0x70) == MessageStyle::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString QtWindowSystem::inputBox(const QString& prompt, const QString& title)
{
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(title.isEmpty() ? m_title : title);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(QString());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

QCursor QtWindowSystem::loadCursor(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(
            QStringLiteral("Cannot open the pointer file %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.read(1 << 20);
    // A cursor file: a six-byte header (0, type 2, image count), then one 16-byte entry per
    // image whose planes and bit-count fields hold the hotspot.
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < 22 || u16(0) != 0 || u16(2) != 2 || u16(4) == 0)
        throw PlatformError(QStringLiteral("The file %1 is not a pointer image").arg(path));
    const int hotX = u16(6 + 4);
    const int hotY = u16(6 + 6);
    QImage image;
    if (!image.loadFromData(bytes, "CUR") || image.isNull())
        throw PlatformError(QStringLiteral("The pointer image in %1 cannot be read").arg(path));
    return QCursor(QPixmap::fromImage(image), qMin(hotX, image.width() - 1), qMin(hotY, image.height() - 1));
}

void QtWindowSystem::applyPointer(QWidget& window, PointerShape shape, const QCursor* custom)
{
    QCursor cursor(Qt::ArrowCursor);
    if (shape == PointerShape::Busy)
        cursor = QCursor(Qt::WaitCursor);
    else if (shape == PointerShape::Custom && custom)
        cursor = *custom;
    // One shape for the whole window, the text boxes included.
    window.setCursor(cursor);
    for (QWidget* child : window.findChildren<QWidget*>())
        child->setCursor(cursor);
}

void QtWindowSystem::yield()
{
    QApplication::processEvents(QEventLoop::AllEvents);
}

void QtWindowSystem::endProgram()
{
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}
