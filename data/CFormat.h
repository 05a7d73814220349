#pragma once

#include <QDebug>
#include <QString>

// The printf-style texts (volume report, information label, console numbers) are formatted
// with C's own printf: it rounds the exact binary value to nearest, ties to even, so "%f" of
// 0.4765625 is "0.476562" where Qt's number formatting rounds the tie up to "0.476563".
// The decimal point is always '.', whatever locale the application set; a NaN prints as "nan"
// whatever its sign bit (glibc would print "-nan" for some), negative zero keeps its sign.

// printf into a QString; an invalid format gives an empty string.
QString cformat(const char *format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(1, 2);

// A number as an item of a console line: qDebug's "%g" (six significant digits), rounded as
// C rounds. Streams without quotes, separated like any other item.
struct ConsoleNumber
{
    char text[32];
};
ConsoleNumber consoleNumber(double value);
inline QDebug operator<<(QDebug debug, const ConsoleNumber &number) { return debug << number.text; }
