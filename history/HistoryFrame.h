#pragma once

#include "history/HistorySweep.h"

#include <QByteArray>
#include <array>
#include <cstdint>

// A sweep in fixed point, as the history keeps it: millivolts and tenths of a degree for
// each of the 128 batteries, with sentinels where a reading is missing.
struct HistoryFrame
{
    static constexpr int batteryCount = 128;
    static constexpr quint16 noVoltage = 0xFFFF;
    static constexpr qint16 noTemperature = INT16_MIN;

    qint64 msecs = 0;
    std::array<quint16, batteryCount> millivolts;
    std::array<qint16, batteryCount> decidegrees;

    HistoryFrame();
    static HistoryFrame fromSweep(const HistorySweep& sweep);

    bool has(int battery) const { return millivolts[size_t(battery)] != noVoltage; }
    void set(int battery, double volts, double celsius);

    // The blob of one sweep row: which batteries reported, then their voltages and their
    // temperatures, each as offsets from the sweep's lowest in as few bits as the spread
    // needs (about 8 for voltages, 5 for temperatures). About half the plain size, and
    // quick to unpack, which reading a day sweep by sweep needs.
    QByteArray encode() const;
    // False for a blob that is not one of ours; the frame is then all missing.
    bool decode(const QByteArray& blob);

    static double volts(quint16 mv) { return mv / 1000.0; }
    static double celsius(qint16 dc) { return dc / 10.0; }
};
