#include "app/Form1.h"
#include "app/Settings.h"
#include "capture/NumberText.h"
#include "capture/Options.h"
#include "platform/PlatformError.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>

#include <exception>

// The zoom and JPG quality options. Setting a box's text from inside its own change handler
// runs the handler again, nested, before the outer run goes on; so every text the box shows
// is stored, and the last one stored is the one finally shown.

QString QualityCaption(int quality)
{
    return QStringLiteral("Output JPG image quality: ") + QString::number(quality) + QLatin1Char('%');
}

void Form1::Text2_Change()
{
    // A store that fails still fails the handler, but only after the box is back in range:
    // the capture run reads the zoom from it.
    std::exception_ptr storeFailed;
    try {
        Settings::store(m_platform.settings, QStringLiteral("Zoom"), Text2->text());
    } catch (const PlatformError&) {
        storeFailed = std::current_exception();
    }
    if (!IsNumeric(Text2->text()))
        Text2->setText(DecimalText(LeadingValue(Text2->text())));
    if (LeadingValue(Text2->text()) > HScroll1->maximum())
        Text2->setText(QString::number(HScroll1->maximum()));
    if (LeadingValue(Text2->text()) < HScroll1->minimum())
        Text2->setText(QString::number(HScroll1->minimum()));
    // After the checks above the text is a number within the scroll bar's range; a text that
    // could still not be read as a whole one leaves the scroll bar where it is.
    if (const auto zoom = WholeNumber(Text2->text()))
        HScroll1->setValue(*zoom);
    if (storeFailed)
        std::rethrow_exception(storeFailed);
}

void Form1::HScroll1_Change()
{
    Text2->setText(QString::number(HScroll1->value()));
}

void Form1::Slider1_Click()
{
    Frame3->setTitle(QualityCaption(Slider1->value()));
    Settings::store(m_platform.settings, QStringLiteral("Slider1"), QString::number(Slider1->value()));
}
