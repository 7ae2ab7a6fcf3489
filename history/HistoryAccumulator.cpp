#include "history/HistoryAccumulator.h"

#include <cmath>

namespace {

// Rounded to the nearest fixed-point step, halves away from zero.
qint64 roundedMean(qint64 sum, int count)
{
    return qint64(std::llround(double(sum) / count));
}

} // namespace

HistoryAccumulator::HistoryAccumulator(qint64 start, qint64 slotLength, int slotCount,
                                       const QVector<int>& batteries)
    : m_start(start), m_slotLength(slotLength), m_slotCount(slotCount), m_batteries(batteries),
      m_sweeps(slotCount, 0), m_cells(slotCount * HistoryFrame::batteryCount)
{
    if (m_batteries.isEmpty()) {
        for (int b = 0; b < HistoryFrame::batteryCount; ++b)
            m_batteries.append(b);
    }
}

bool HistoryAccumulator::add(const HistoryFrame& frame)
{
    if (frame.msecs < m_start || frame.msecs >= end())
        return false;
    const int slot = int((frame.msecs - m_start) / m_slotLength);
    m_empty = false;
    ++m_sweeps[slot];
    Cell* row = m_cells.data() + slot * HistoryFrame::batteryCount;
    for (int b : qAsConst(m_batteries)) {
        if (!frame.has(b))
            continue;
        const quint16 v = frame.millivolts[size_t(b)];
        const qint16 t = frame.decidegrees[size_t(b)];
        Cell& c = row[b];
        ++c.count;
        c.vSum += v;
        c.tSum += t;
        c.vMin = qMin(c.vMin, v);
        c.vMax = qMax(c.vMax, v);
        c.tMin = qMin(c.tMin, t);
        c.tMax = qMax(c.tMax, t);
    }
    return true;
}

HistoryBlock HistoryAccumulator::finish() const
{
    HistoryBlock block(m_start, m_slotLength, m_slotCount);
    for (int s = 0; s < m_slotCount; ++s) {
        block.setSweeps(s, m_sweeps[s]);
        const Cell* row = m_cells.constData() + s * HistoryFrame::batteryCount;
        for (int b : m_batteries) {
            const Cell& c = row[b];
            if (c.count == 0)
                continue;
            HistoryStat st;
            st.present = true;
            st.vMin = c.vMin;
            st.vMax = c.vMax;
            st.vMean = quint16(roundedMean(c.vSum, c.count));
            st.tMin = c.tMin;
            st.tMax = c.tMax;
            st.tMean = qint16(roundedMean(c.tSum, c.count));
            block.setStat(s, b, st);
        }
    }
    return block;
}
