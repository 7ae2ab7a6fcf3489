#include "core/DecimalComma.h"

#include <clocale>
#include <cstdio>
#include <cstring>

QString decimalComma(const char* format, double value)
{
    char buffer[14];
    std::snprintf(buffer, sizeof buffer, format, value);
    QString text = QString::fromLatin1(buffer);
    // The run-time may use any separator (C: '.', a comma locale: ','); show a comma.
    const char* point = std::localeconv()->decimal_point;
    if (point != nullptr && std::strlen(point) == 1 && point[0] != ',')
        text.replace(QLatin1Char(point[0]), QLatin1Char(','));
    return text;
}
