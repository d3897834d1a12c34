#pragma once

#include <QString>

// The quality frame's caption for a slider value.
QString QualityCaption(int quality);
