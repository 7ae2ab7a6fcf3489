#include "history/HistoryBlock.h"

#include "history/HistoryBits.h"

#include <QtEndian>
#include <array>

namespace {

constexpr int streamCount = 6;
constexpr char slotRowFormat = 1;
constexpr int bitmapBytes = HistoryBlock::batteryCount / 8;

quint16 zigzag(quint16 delta)
{
    const auto d = qint16(delta);
    return quint16((quint16(d) << 1) ^ quint16(d >> 15));
}

quint16 unzigzag(quint16 z)
{
    return quint16((z >> 1) ^ quint16(-(z & 1)));
}

// The six figures of a stat as unsigned 16-bit numbers, temperatures shifted so their
// order is kept.
std::array<quint16, streamCount> figures(const HistoryStat& st)
{
    return {st.vMean,
            st.vMin,
            st.vMax,
            quint16(st.tMean + 0x8000),
            quint16(st.tMin + 0x8000),
            quint16(st.tMax + 0x8000)};
}

HistoryStat fromFigures(const std::array<quint16, streamCount>& f)
{
    HistoryStat st;
    st.present = true;
    st.vMean = f[0];
    st.vMin = f[1];
    st.vMax = f[2];
    st.tMean = qint16(quint16(f[3] - 0x8000));
    st.tMin = qint16(quint16(f[4] - 0x8000));
    st.tMax = qint16(quint16(f[5] - 0x8000));
    return st;
}

// How the figures of a stream are told in a packed block. Means always as steps from the
// battery's previous mean; extremes either as distances from the mean (best for noisy
// voltages) or as steps from the previous extreme (best for temperatures, whose readings
// come in coarse steps and whose extremes mostly repeat). The encoder tries both.
enum Mode : char
{
    FromMean = 0,
    FromPrevious = 1
};

quint16 told(int stream, Mode mode, quint16 value, quint16 mean, quint16 previous)
{
    if (mode == FromPrevious || stream == 0 || stream == 3)
        return zigzag(quint16(value - previous));
    const bool isMin = stream == 1 || stream == 4;
    return isMin ? quint16(mean - value) : quint16(value - mean);
}

quint16 untold(int stream, Mode mode, quint16 coded, quint16 mean, quint16 previous)
{
    if (mode == FromPrevious || stream == 0 || stream == 3)
        return quint16(previous + unzigzag(coded));
    const bool isMin = stream == 1 || stream == 4;
    return isMin ? quint16(mean - coded) : quint16(mean + coded);
}

void appendPart(QByteArray* out, const QByteArray& part)
{
    uchar size[4];
    qToLittleEndian(quint32(part.size()), size);
    out->append(reinterpret_cast<const char*>(size), 4);
    out->append(part);
}

bool takePart(const uchar*& p, const uchar* end, QByteArray* part)
{
    if (end - p < 4)
        return false;
    const quint32 size = qFromLittleEndian<quint32>(p);
    p += 4;
    if (quint32(end - p) < size)
        return false;
    *part = qUncompress(p, int(size));
    p += size;
    return !part->isEmpty();
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
    QByteArray head(2 * slotTotal + (n + 7) / 8, '\0');
    auto* counts = reinterpret_cast<uchar*>(head.data());
    uchar* bitmap = counts + 2 * slotTotal;
    for (int s = 0; s < slotTotal; ++s)
        qToLittleEndian(quint16(qMin(m_sweeps[s], 0xFFFF)), counts + 2 * s);
    for (int b = 0; b < batteryCount; ++b) {
        for (int s = 0; s < slotTotal; ++s) {
            const int i = b * slotTotal + s;
            if (stat(s, b).present)
                bitmap[i / 8] |= uchar(1 << (i % 8));
        }
    }
    QByteArray out;
    out.append(char(slotTotal));
    appendPart(&out, qCompress(head, 9));

    // Each stream on its own, low bytes then high bytes, so deflate fits its codes to it.
    for (int stream = 0; stream < streamCount; ++stream) {
        QByteArray best;
        Mode bestMode = FromMean;
        for (Mode mode : {FromMean, FromPrevious}) {
            if (mode == FromPrevious && (stream == 0 || stream == 3))
                continue;
            QByteArray planes(2 * n, '\0');
            for (int b = 0; b < batteryCount; ++b) {
                quint16 previous = 0;
                for (int s = 0; s < slotTotal; ++s) {
                    const HistoryStat& st = stat(s, b);
                    if (!st.present)
                        continue;
                    const auto f = figures(st);
                    const quint16 mean = f[stream < 3 ? 0 : 3];
                    const quint16 coded = told(stream, mode, f[size_t(stream)], mean, previous);
                    previous = f[size_t(stream)];
                    const int i = b * slotTotal + s;
                    planes[i] = char(coded & 0xFF);
                    planes[n + i] = char(coded >> 8);
                }
            }
            const QByteArray packed = qCompress(planes, 9);
            if (best.isEmpty() || packed.size() < best.size()) {
                best = packed;
                bestMode = mode;
            }
        }
        out.append(char(bestMode));
        appendPart(&out, best);
    }
    return out;
}

bool HistoryBlock::decodePacked(qint64 start, qint64 slotLength, const QByteArray& blob,
                                const QVector<int>& batteries)
{
    const auto* p = reinterpret_cast<const uchar*>(blob.constData());
    const uchar* end = p + blob.size();
    if (blob.isEmpty())
        return false;
    const int slotTotal = *p++;
    const int n = batteryCount * slotTotal;
    QByteArray head;
    if (slotTotal == 0 || !takePart(p, end, &head) || head.size() != 2 * slotTotal + (n + 7) / 8)
        return false;
    QByteArray planes[streamCount];
    Mode modes[streamCount];
    for (int stream = 0; stream < streamCount; ++stream) {
        if (p == end)
            return false;
        modes[stream] = Mode(*p++);
        if (!takePart(p, end, &planes[stream]) || planes[stream].size() != 2 * n)
            return false;
    }

    *this = HistoryBlock(start, slotLength, slotTotal);
    const auto* counts = reinterpret_cast<const uchar*>(head.constData());
    const uchar* bitmap = counts + 2 * slotTotal;
    for (int s = 0; s < slotTotal; ++s)
        m_sweeps[s] = qFromLittleEndian<quint16>(counts + 2 * s);
    // Each battery's figures stand on their own, so only those asked for are worked out.
    for (int k = 0; k < (batteries.isEmpty() ? batteryCount : batteries.size()); ++k) {
        const int b = batteries.isEmpty() ? k : batteries[k];
        if (b < 0 || b >= batteryCount)
            continue;
        std::array<quint16, streamCount> previous{};
        for (int s = 0; s < slotTotal; ++s) {
            const int i = b * slotTotal + s;
            if (!(bitmap[i / 8] & (1 << (i % 8))))
                continue;
            std::array<quint16, streamCount> f{};
            // Means first: the extremes may be told from them.
            for (int stream : {0, 3, 1, 2, 4, 5}) {
                const auto* plane = reinterpret_cast<const uchar*>(planes[stream].constData());
                const auto coded = quint16(plane[i] | plane[n + i] << 8);
                const quint16 mean = f[stream < 3 ? 0 : 3];
                f[size_t(stream)] = untold(stream, modes[stream], coded, mean, previous[size_t(stream)]);
            }
            previous = f;
            setStat(s, b, fromFigures(f));
        }
    }
    return true;
}

QByteArray HistoryBlock::encodeSlot() const
{
    quint16 values[streamCount][batteryCount];
    char bitmap[bitmapBytes] = {};
    int n = 0;
    for (int b = 0; b < batteryCount; ++b) {
        const HistoryStat& st = stat(0, b);
        if (!st.present)
            continue;
        HistoryBits::setPresent(bitmap, b);
        // Extremes as distances from the mean: small, so few bits.
        values[0][n] = st.vMean;
        values[1][n] = quint16(st.vMean - st.vMin);
        values[2][n] = quint16(st.vMax - st.vMean);
        values[3][n] = quint16(st.tMean + 0x8000);
        values[4][n] = quint16(st.tMean - st.tMin);
        values[5][n] = quint16(st.tMax - st.tMean);
        ++n;
    }
    QByteArray row;
    row.append(slotRowFormat);
    row.append(bitmap, bitmapBytes);
    for (const auto& stream : values)
        HistoryBits::pack(&row, stream, n);
    return row;
}

bool HistoryBlock::slotStat(const QByteArray& row, int battery, HistoryStat* stat)
{
    *stat = HistoryStat();
    const auto* p = reinterpret_cast<const uchar*>(row.constData());
    const uchar* end = p + row.size();
    if (row.size() < 1 + bitmapBytes || p[0] != slotRowFormat || battery < 0 || battery >= batteryCount)
        return false;
    const uchar* bitmap = p + 1;
    p += 1 + bitmapBytes;
    int n = 0;
    int index = -1;
    for (int b = 0; b < batteryCount; ++b) {
        if (!(bitmap[b / 8] & (1 << (b % 8))))
            continue;
        if (b == battery)
            index = n;
        ++n;
    }
    quint16 f[streamCount] = {};
    for (quint16& value : f) {
        if (!HistoryBits::unpackOne(p, end, n, qMax(index, 0), &value))
            return false;
    }
    if (index < 0)
        return true; // a gap
    stat->present = true;
    stat->vMean = f[0];
    stat->vMin = quint16(f[0] - f[1]);
    stat->vMax = quint16(f[0] + f[2]);
    stat->tMean = qint16(quint16(f[3] - 0x8000));
    stat->tMin = qint16(quint16(quint16(stat->tMean) - f[4]));
    stat->tMax = qint16(quint16(quint16(stat->tMean) + f[5]));
    return true;
}

bool HistoryBlock::decodeSlot(qint64 start, qint64 slotLength, const QByteArray& row)
{
    const auto* p = reinterpret_cast<const uchar*>(row.constData());
    const uchar* end = p + row.size();
    if (row.size() < 1 + bitmapBytes || p[0] != slotRowFormat)
        return false;
    const uchar* bitmap = p + 1;
    p += 1 + bitmapBytes;
    int present[batteryCount];
    const int n = HistoryBits::presentIndices(bitmap, batteryCount, present);
    quint16 values[streamCount][batteryCount];
    for (auto& stream : values) {
        if (!HistoryBits::unpack(p, end, stream, n))
            return false;
    }
    *this = HistoryBlock(start, slotLength, 1);
    m_sweeps[0] = 1;
    for (int i = 0; i < n; ++i) {
        HistoryStat st;
        st.present = true;
        st.vMean = values[0][i];
        st.vMin = quint16(values[0][i] - values[1][i]);
        st.vMax = quint16(values[0][i] + values[2][i]);
        st.tMean = qint16(quint16(values[3][i] - 0x8000));
        st.tMin = qint16(quint16(quint16(st.tMean) - values[4][i]));
        st.tMax = qint16(quint16(quint16(st.tMean) + values[5][i]));
        setStat(0, present[i], st);
    }
    return true;
}
