#include "history/HistoryFrame.h"

#include <cmath>

namespace {

constexpr int planeSize = HistoryFrame::batteryCount;
constexpr int frameBytes = 4 * planeSize;

// Voltages below zero are kept as zero: the history only has to follow real batteries.
quint16 toMillivolts(double volts)
{
    const double mv = std::round(volts * 1000.0);
    if (mv <= 0.0)
        return 0;
    if (mv >= double(HistoryFrame::noVoltage - 1))
        return HistoryFrame::noVoltage - 1;
    return quint16(mv);
}

qint16 toDecidegrees(double celsius)
{
    const double dc = std::round(celsius * 10.0);
    if (dc <= double(HistoryFrame::noTemperature + 1))
        return HistoryFrame::noTemperature + 1;
    if (dc >= double(INT16_MAX))
        return INT16_MAX;
    return qint16(dc);
}

} // namespace

HistoryFrame::HistoryFrame()
{
    millivolts.fill(noVoltage);
    decidegrees.fill(noTemperature);
}

HistoryFrame HistoryFrame::fromSweep(const HistorySweep& sweep)
{
    HistoryFrame frame;
    frame.msecs = sweep.msecsSinceEpoch;
    for (const HistoryReading& r : sweep.readings) {
        if (r.battery < 0 || r.battery >= batteryCount)
            continue;
        if (r.missing || !std::isfinite(r.voltage) || !std::isfinite(r.temperature)) {
            frame.millivolts[size_t(r.battery)] = noVoltage;
            frame.decidegrees[size_t(r.battery)] = noTemperature;
            continue;
        }
        frame.set(r.battery, r.voltage, r.temperature);
    }
    return frame;
}

void HistoryFrame::set(int battery, double volts, double celsius)
{
    millivolts[size_t(battery)] = toMillivolts(volts);
    decidegrees[size_t(battery)] = toDecidegrees(celsius);
}

QByteArray HistoryFrame::encode() const
{
    char planes[frameBytes];
    for (int b = 0; b < batteryCount; ++b) {
        const quint16 v = millivolts[size_t(b)];
        const quint16 t = quint16(decidegrees[size_t(b)]);
        planes[b] = char(v >> 8);
        planes[planeSize + b] = char(v & 0xFF);
        planes[2 * planeSize + b] = char(t >> 8);
        planes[3 * planeSize + b] = char(t & 0xFF);
    }
    return qCompress(reinterpret_cast<const uchar*>(planes), frameBytes);
}

bool HistoryFrame::decode(const QByteArray& blob)
{
    const QByteArray planes = qUncompress(blob);
    if (planes.size() != frameBytes) {
        millivolts.fill(noVoltage);
        decidegrees.fill(noTemperature);
        return false;
    }
    const auto* p = reinterpret_cast<const uchar*>(planes.constData());
    for (int b = 0; b < batteryCount; ++b) {
        millivolts[size_t(b)] = quint16(p[b] << 8 | p[planeSize + b]);
        decidegrees[size_t(b)] = qint16(quint16(p[2 * planeSize + b] << 8 | p[3 * planeSize + b]));
    }
    return true;
}
