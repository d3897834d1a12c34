#pragma once

#include <QString>

#include <optional>

// Reading numbers out of what the user typed into a box. The decimal point is always ".",
// whatever the user's locale, so a zoom typed on one machine means the same on another.

// The whole text reads as one number: blanks around it, a sign, a decimal point and an
// exponent are allowed ("  -2.5e1 "). Thousands separators are not ("1,5" is not a number).
bool IsNumeric(const QString& text);

// The number the text begins with; blanks anywhere are skipped and reading stops at the first
// character that cannot continue the number ("12abc" is 12, "abc" is 0). Too large a number
// reads as the largest finite value of its sign rather than as infinity.
double LeadingValue(const QString& text);

// The whole text as a number rounded to the nearest whole number, an exact half going to the
// even neighbour (2.5 -> 2, 3.5 -> 4). Empty when the text is not numeric or the result does
// not fit an int.
std::optional<int> WholeNumber(const QString& text);

// A number as the boxes show it: plain decimal digits for whole numbers, otherwise the
// shortest text that reads back as the same value.
QString DecimalText(double value);
