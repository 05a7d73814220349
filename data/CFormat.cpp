#include "data/CFormat.h"

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <locale.h>

namespace {

// vsnprintf under the "C" locale for this thread only: QCoreApplication sets the user's
// locale, whose decimal point may be a comma. The locale object lives for the process.
int formatInC(char *buffer, std::size_t size, const char *format, va_list args)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    const locale_t previous = cLocale ? uselocale(cLocale) : locale_t(0);
    const int n = std::vsnprintf(buffer, size, format, args);
    if (cLocale)
        uselocale(previous);
    return n;
}

// Drops the sign of every "-nan" in place; returns the new length.
int unsignNan(char *text, int length)
{
    int out = 0;
    for (int in = 0; in < length; ++in) {
        if (text[in] == '-' && in + 3 < length && std::strncmp(text + in + 1, "nan", 3) == 0)
            continue;
        text[out++] = text[in];
    }
    text[out] = '\0';
    return out;
}

} // namespace

QString cformat(const char *format, ...)
{
    // The report's longest line is under 200 characters; huge values (%f of 1e300) take the heap.
    char stack[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = formatInC(stack, sizeof stack, format, args);
    va_end(args);
    char *text = stack;
    QByteArray heap;
    if (n >= int(sizeof stack)) {
        heap.resize(n);
        n = formatInC(heap.data(), std::size_t(n) + 1, format, again);
        text = heap.data();
    }
    va_end(again);
    if (n < 0)
        return QString();
    n = unsignNan(text, n);
    return QString::fromLatin1(text, n);
}

ConsoleNumber consoleNumber(double value)
{
    ConsoleNumber number;
    // "%g" of a double is at most 13 characters ("-1.79769e+308").
    const QByteArray text = cformat("%g", value).toLatin1().left(int(sizeof number.text) - 1);
    std::memcpy(number.text, text.constData(), std::size_t(text.size()) + 1);
    return number;
}
