#pragma once

#include <QIcon>
#include <QString>

class LocationList;
class Skin;
class QWidget;

// The caption of every box that names none of its own, cut from the product name: its last
// word goes, then more words until at most 40 characters are left. A name without a blank
// keeps what it has.
QString ApplicationTitle(const QString& productName);

// The window icon, in each size it is drawn at. Throws PlatformError when one is missing.
QIcon ProgramIcon();

// The skin file beside the program, when there is one: the window and its frames take the
// button-face colour, then the skin framework loads the file and applies it. Throws
// PlatformError from the framework; whatever follows the failing step is not done.
void ApplySkin(QWidget& window, Skin& skin, const QString& skinFile);

// The list as the settings store keeps it: every location followed by ";".
QString SavedListText(const LocationList& list);
