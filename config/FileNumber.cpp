#include "config/FileNumber.h"

#include <cmath>

namespace FileNumber {

QString toText(double value)
{
    // QString::number never consults the locale.
    return QString::number(value, 'g', 6);
}

bool parse(const QString& text, double* value)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    // "nan", "inf" and overflowing texts would compare false with every threshold and
    // switch the alarms off: they are not numbers here.
    if (!ok || !std::isfinite(v))
        return false;
    if (value)
        *value = v;
    return true;
}

bool parseInt(const QString& text, int* value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok && value)
        *value = v;
    return ok;
}

} // namespace FileNumber
