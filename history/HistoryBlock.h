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
    // Size of the plain form of a one-slot block: six 16-bit figures per battery.
    static constexpr int plainStatBytes = 12;
    static constexpr int plainBytes = batteryCount * plainStatBytes;

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

    // Deflated form for the minute rows. Each battery's means are stored as steps from its
    // previous mean and the extremes as distances from the mean: small numbers that deflate
    // well, where the figures themselves would not.
    QByteArray encodePacked() const;
    // Reads a packed blob into a block starting at `start`; false when it is not one.
    bool decodePacked(qint64 start, qint64 slotLength, const QByteArray& blob);

    // Plain form of the first slot for the hour rows, twelve bytes per battery, so one
    // battery's figures can be cut out of the row without unpacking the rest.
    QByteArray encodePlain() const;
    static HistoryStat plainStat(const char* twelveBytes);

private:
    qint64 m_start = 0;
    qint64 m_slotLength = 0;
    QVector<int> m_sweeps;
    QVector<HistoryStat> m_stats;
};
