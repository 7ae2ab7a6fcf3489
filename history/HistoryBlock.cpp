#include "history/HistoryBlock.h"

#include <QtEndian>

namespace {

constexpr int streamCount = 6;

quint16 zigzag(quint16 delta)
{
    const auto d = qint16(delta);
    return quint16((quint16(d) << 1) ^ quint16(d >> 15));
}

quint16 unzigzag(quint16 z)
{
    return quint16((z >> 1) ^ quint16(-(z & 1)));
}

int packedSize(int slotTotal)
{
    const int n = HistoryBlock::batteryCount * slotTotal;
    return 1 + 2 * slotTotal + (n + 7) / 8 + streamCount * 2 * n;
}

} // namespace

HistoryBlock::HistoryBlock(qint64 start, qint64 slotLength, int slotCount)
    : m_start(start), m_slotLength(slotLength), m_sweeps(slotCount, 0), m_stats(slotCount * batteryCount)
{
}

QByteArray HistoryBlock::encodePacked() const
{
    const int slotTotal = slotCount();
    const int n = batteryCount * slotTotal;
    QByteArray buffer(packedSize(slotTotal), '\0');
    auto* out = reinterpret_cast<uchar*>(buffer.data());
    out[0] = uchar(slotTotal);
    uchar* counts = out + 1;
    uchar* bitmap = counts + 2 * slotTotal;
    uchar* planes = bitmap + (n + 7) / 8;
    for (int s = 0; s < slotTotal; ++s)
        qToLittleEndian(quint16(qMin(m_sweeps[s], 0xFFFF)), counts + 2 * s);

    const auto put = [&](int stream, int i, quint16 value) {
        planes[(2 * stream) * n + i] = uchar(value & 0xFF);
        planes[(2 * stream + 1) * n + i] = uchar(value >> 8);
    };
    for (int b = 0; b < batteryCount; ++b) {
        quint16 prevV = 0;
        quint16 prevT = 0;
        for (int s = 0; s < slotTotal; ++s) {
            const int i = b * slotTotal + s;
            const HistoryStat& st = stat(s, b);
            if (!st.present)
                continue;
            bitmap[i / 8] |= uchar(1 << (i % 8));
            put(0, i, zigzag(quint16(st.vMean - prevV)));
            put(1, i, quint16(st.vMean - st.vMin));
            put(2, i, quint16(st.vMax - st.vMean));
            put(3, i, zigzag(quint16(quint16(st.tMean) - prevT)));
            put(4, i, quint16(st.tMean - st.tMin));
            put(5, i, quint16(st.tMax - st.tMean));
            prevV = st.vMean;
            prevT = quint16(st.tMean);
        }
    }
    return qCompress(buffer, 9);
}

bool HistoryBlock::decodePacked(qint64 start, qint64 slotLength, const QByteArray& blob)
{
    const QByteArray buffer = qUncompress(blob);
    if (buffer.isEmpty())
        return false;
    const auto* in = reinterpret_cast<const uchar*>(buffer.constData());
    const int slotTotal = in[0];
    if (slotTotal == 0 || buffer.size() != packedSize(slotTotal))
        return false;
    *this = HistoryBlock(start, slotLength, slotTotal);
    const int n = batteryCount * slotTotal;
    const uchar* counts = in + 1;
    const uchar* bitmap = counts + 2 * slotTotal;
    const uchar* planes = bitmap + (n + 7) / 8;
    for (int s = 0; s < slotTotal; ++s)
        m_sweeps[s] = qFromLittleEndian<quint16>(counts + 2 * s);

    const auto get = [&](int stream, int i) {
        return quint16(planes[(2 * stream) * n + i] | planes[(2 * stream + 1) * n + i] << 8);
    };
    for (int b = 0; b < batteryCount; ++b) {
        quint16 prevV = 0;
        quint16 prevT = 0;
        for (int s = 0; s < slotTotal; ++s) {
            const int i = b * slotTotal + s;
            if (!(bitmap[i / 8] & (1 << (i % 8))))
                continue;
            HistoryStat st;
            st.present = true;
            st.vMean = quint16(prevV + unzigzag(get(0, i)));
            st.vMin = quint16(st.vMean - get(1, i));
            st.vMax = quint16(st.vMean + get(2, i));
            const auto tMean = quint16(prevT + unzigzag(get(3, i)));
            st.tMean = qint16(tMean);
            st.tMin = qint16(quint16(tMean - get(4, i)));
            st.tMax = qint16(quint16(tMean + get(5, i)));
            prevV = st.vMean;
            prevT = tMean;
            setStat(s, b, st);
        }
    }
    return true;
}

QByteArray HistoryBlock::encodePlain() const
{
    QByteArray row(plainBytes, '\0');
    auto* out = reinterpret_cast<uchar*>(row.data());
    for (int b = 0; b < batteryCount; ++b) {
        HistoryStat st = stat(0, b);
        if (!st.present) {
            st.vMin = st.vMean = st.vMax = HistoryFrame::noVoltage;
            st.tMin = st.tMean = st.tMax = HistoryFrame::noTemperature;
        }
        uchar* p = out + b * plainStatBytes;
        qToLittleEndian(st.vMin, p);
        qToLittleEndian(st.vMean, p + 2);
        qToLittleEndian(st.vMax, p + 4);
        qToLittleEndian(st.tMin, p + 6);
        qToLittleEndian(st.tMean, p + 8);
        qToLittleEndian(st.tMax, p + 10);
    }
    return row;
}

HistoryStat HistoryBlock::plainStat(const char* twelveBytes)
{
    const auto* p = reinterpret_cast<const uchar*>(twelveBytes);
    HistoryStat st;
    st.vMean = qFromLittleEndian<quint16>(p + 2);
    st.present = st.vMean != HistoryFrame::noVoltage;
    if (!st.present)
        return HistoryStat();
    st.vMin = qFromLittleEndian<quint16>(p);
    st.vMax = qFromLittleEndian<quint16>(p + 4);
    st.tMin = qFromLittleEndian<qint16>(p + 6);
    st.tMean = qFromLittleEndian<qint16>(p + 8);
    st.tMax = qFromLittleEndian<qint16>(p + 10);
    return st;
}
