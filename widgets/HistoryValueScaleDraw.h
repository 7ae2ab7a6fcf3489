#pragma once

#include <qwt_scale_draw.h>

// A value axis that writes numbers as everything else on screen does: a decimal comma and
// no thousands separator, whatever the locale.
class HistoryValueScaleDraw : public QwtScaleDraw
{
public:
    QwtText label(double value) const override;
};
