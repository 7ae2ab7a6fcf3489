#include "history/HistoryFrame.h"

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

int bitsFor(quint32 spread)
{
    int bits = 0;
    while (bits < 16 && (spread >> bits) != 0)
        ++bits;
    return bits;
}

// Appends `values` minus their minimum in the fewest bits that hold them all.
void pack(QByteArray* out, const quint16* values, int count)
{
    quint16 low = 0xFFFF;
    quint16 high = 0;
    for (int i = 0; i < count; ++i) {
        low = qMin(low, values[i]);
        high = qMax(high, values[i]);
    }
    if (count == 0)
        low = high = 0;
    const int bits = bitsFor(quint32(high - low));
    out->append(char(low & 0xFF));
    out->append(char(low >> 8));
    out->append(char(bits));
    quint32 acc = 0;
    int held = 0;
    for (int i = 0; i < count; ++i) {
        acc |= quint32(values[i] - low) << held;
        held += bits;
        while (held >= 8) {
            out->append(char(acc & 0xFF));
            acc >>= 8;
            held -= 8;
        }
    }
    if (held > 0)
        out->append(char(acc & 0xFF));
}

// Reads what pack() wrote; false when the blob ends early.
bool unpack(const uchar*& p, const uchar* end, quint16* values, int count)
{
    if (end - p < 3)
        return false;
    const quint16 low = quint16(p[0] | p[1] << 8);
    const int bits = p[2];
    p += 3;
    if (bits > 16 || end - p < (qint64(bits) * count + 7) / 8)
        return false;
    const quint32 mask = (1u << bits) - 1;
    quint32 acc = 0;
    int held = 0;
    for (int i = 0; i < count; ++i) {
        while (held < bits) {
            acc |= quint32(*p++) << held;
            held += 8;
        }
        values[i] = quint16(low + (acc & mask));
        acc >>= bits;
        held -= bits;
    }
    return true;
}

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
        bitmap[b / 8] = char(bitmap[b / 8] | (1 << (b % 8)));
        volts[n] = millivolts[size_t(b)];
        // Offset so that the order of temperatures is kept in unsigned arithmetic.
        temps[n] = quint16(decidegrees[size_t(b)] + 0x8000);
        ++n;
    }
    QByteArray out;
    out.reserve(1 + bitmapBytes + 6 + 4 * batteryCount);
    out.append(formatPacked);
    out.append(bitmap, bitmapBytes);
    pack(&out, volts, n);
    pack(&out, temps, n);
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
    int n = 0;
    for (int b = 0; b < batteryCount; ++b) {
        if (bitmap[b / 8] & (1 << (b % 8)))
            present[n++] = b;
    }
    quint16 volts[batteryCount];
    quint16 temps[batteryCount];
    if (!unpack(p, end, volts, n) || !unpack(p, end, temps, n))
        return false;
    for (int i = 0; i < n; ++i) {
        millivolts[size_t(present[i])] = volts[i];
        decidegrees[size_t(present[i])] = qint16(quint16(temps[i] - 0x8000));
    }
    return true;
}
