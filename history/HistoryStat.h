#pragma once

#include <QtGlobal>

// Lowest, mean and highest reading of one battery over a minute or an hour, in the fixed
// point of HistoryFrame. A battery without one valid reading in the slot is not present:
// its slot stays a gap.
struct HistoryStat
{
    bool present = false;
    quint16 vMin = 0;
    quint16 vMean = 0;
    quint16 vMax = 0;
    qint16 tMin = 0;
    qint16 tMean = 0;
    qint16 tMax = 0;
};
