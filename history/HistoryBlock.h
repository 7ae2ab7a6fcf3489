#pragma once

#include "history/HistoryFrame.h"
#include "history/HistoryStat.h"

#include <QByteArray>
#include <QVector>

// Consecutive time slots of equal length (the minutes of an hour, or one hour) with the
// number of sweeps in each slot and every battery's figures for it.
class HistoryBlock
{
public:
    static constexpr int batteryCount = HistoryFrame::batteryCount;

    HistoryBlock() = default;
    HistoryBlock(qint64 start, qint64 slotLength, int slotCount);

    qint64 start() const { return m_start; }
    qint64 slotLength() const { return m_slotLength; }
    int slotCount() const { return m_sweeps.size(); }
    qint64 slotStart(int slot) const { return m_start + slot * m_slotLength; }

    int sweeps(int slot) const { return m_sweeps.at(slot); }
    void setSweeps(int slot, int count) { m_sweeps[slot] = count; }
    const HistoryStat& stat(int slot, int battery) const { return m_stats.at(slot * batteryCount + battery); }
    void setStat(int slot, int battery, const HistoryStat& s) { m_stats[slot * batteryCount + battery] = s; }

    // Form of the minute rows: which batteries have figures in which slot, then each
    // figure as a stream of small numbers (steps from the battery's previous figure, or
    // distances from the mean), each stream deflated on its own.
    QByteArray encodePacked() const;
    // Reads a packed blob into a block starting at `start`, the figures of `batteries` only
    // (all when empty); false when it is not one.
    bool decodePacked(qint64 start, qint64 slotLength, const QByteArray& blob,
                      const QVector<int>& batteries = {});

    // Form of the hour rows, of the first slot only: the batteries with figures, then each
    // figure over them in the fewest bits (HistoryBits), so one battery's figures can be
    // read without unpacking the rest.
    QByteArray encodeSlot() const;
    // One battery's figures from such a row (not present: a gap); false when it is not one.
    static bool slotStat(const QByteArray& row, int battery, HistoryStat* stat);
    // The whole row into a one-slot block.
    bool decodeSlot(qint64 start, qint64 slotLength, const QByteArray& row);

private:
    qint64 m_start = 0;
    qint64 m_slotLength = 0;
    QVector<int> m_sweeps;
    QVector<HistoryStat> m_stats;
};
