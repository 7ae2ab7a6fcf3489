#pragma once

#include "history/HistoryBlock.h"
#include "history/HistoryFrame.h"

#include <QVector>

// Gathers sweeps into consecutive slots (the minutes of an hour, say) and works out each
// battery's lowest, mean and highest reading per slot. Means are over valid readings only;
// a battery with none in a slot stays a gap there.
class HistoryAccumulator
{
public:
    // `batteries` limits the work to those batteries (all 128 when empty).
    HistoryAccumulator(qint64 start, qint64 slotLength, int slotCount, const QVector<int>& batteries = {});

    qint64 start() const { return m_start; }
    qint64 end() const { return m_start + m_slotLength * m_slotCount; }
    bool isEmpty() const { return m_empty; }

    // Frames outside [start, end) are left out; false for them.
    bool add(const HistoryFrame& frame);
    HistoryBlock finish() const;

private:
    struct Cell
    {
        int count = 0;
        qint64 vSum = 0;
        qint64 tSum = 0;
        quint16 vMin = 0xFFFF;
        quint16 vMax = 0;
        qint16 tMin = INT16_MAX;
        qint16 tMax = INT16_MIN;
    };

    qint64 m_start;
    qint64 m_slotLength;
    int m_slotCount;
    bool m_empty = true;
    QVector<int> m_batteries;
    QVector<int> m_sweeps;
    QVector<Cell> m_cells; // slot * 128 + battery
};
