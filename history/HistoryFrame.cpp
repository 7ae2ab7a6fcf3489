#include "history/HistoryFrame.h"

#include "history/HistoryBits.h"

#include <cmath>

namespace {

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

namespace {

constexpr char formatPacked = 1;
constexpr int bitmapBytes = HistoryFrame::batteryCount / 8;

} // namespace

QByteArray HistoryFrame::encode() const
{
    quint16 volts[batteryCount];
    quint16 temps[batteryCount];
    char bitmap[bitmapBytes] = {};
    int n = 0;
    for (int b = 0; b < batteryCount; ++b) {
        if (!has(b))
            continue;
        HistoryBits::setPresent(bitmap, b);
        volts[n] = millivolts[size_t(b)];
        // Offset so that the order of temperatures is kept in unsigned arithmetic.
        temps[n] = quint16(decidegrees[size_t(b)] + 0x8000);
        ++n;
    }
    QByteArray out;
    out.reserve(1 + bitmapBytes + 6 + 4 * batteryCount);
    out.append(formatPacked);
    out.append(bitmap, bitmapBytes);
    HistoryBits::pack(&out, volts, n);
    HistoryBits::pack(&out, temps, n);
    return out;
}

bool HistoryFrame::decode(const QByteArray& blob)
{
    millivolts.fill(noVoltage);
    decidegrees.fill(noTemperature);
    const auto* p = reinterpret_cast<const uchar*>(blob.constData());
    const uchar* end = p + blob.size();
    if (blob.size() < 1 + bitmapBytes || p[0] != formatPacked)
        return false;
    const uchar* bitmap = p + 1;
    p += 1 + bitmapBytes;
    int present[batteryCount];
    const int n = HistoryBits::presentIndices(bitmap, batteryCount, present);
    quint16 volts[batteryCount];
    quint16 temps[batteryCount];
    if (!HistoryBits::unpack(p, end, volts, n) || !HistoryBits::unpack(p, end, temps, n))
        return false;
    for (int i = 0; i < n; ++i) {
        millivolts[size_t(present[i])] = volts[i];
        decidegrees[size_t(present[i])] = qint16(quint16(temps[i] - 0x8000));
    }
    return true;
}
