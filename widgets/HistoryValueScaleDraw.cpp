#include "widgets/HistoryValueScaleDraw.h"

#include "core/DecimalComma.h"

#include <QtMath>

QwtText HistoryValueScaleDraw::label(double value) const
{
    // A tick computed as a sum may land a rounding error off zero.
    if (qAbs(value) < 1e-9)
        value = 0.0;
    return decimalComma("%g", value);
}
