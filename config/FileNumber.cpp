#include "config/FileNumber.h"

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
    if (ok && value)
        *value = v;
    return ok;
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
