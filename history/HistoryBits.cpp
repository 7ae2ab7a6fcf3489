#include "history/HistoryBits.h"

namespace {

int bitsFor(quint32 spread)
{
    int bits = 0;
    while (bits < 16 && (spread >> bits) != 0)
        ++bits;
    return bits;
}

bool readHeader(const uchar*& p, const uchar* end, int count, quint16* low, int* bits)
{
    if (end - p < 3)
        return false;
    *low = quint16(p[0] | p[1] << 8);
    *bits = p[2];
    p += 3;
    return *bits <= 16 && end - p >= (qint64(*bits) * count + 7) / 8;
}

} // namespace

namespace HistoryBits {

void setPresent(char* bitmap, int index)
{
    bitmap[index / 8] = char(bitmap[index / 8] | (1 << (index % 8)));
}

int presentIndices(const uchar* bitmap, int count, int* present)
{
    int n = 0;
    for (int b = 0; b < count; ++b) {
        if (bitmap[b / 8] & (1 << (b % 8)))
            present[n++] = b;
    }
    return n;
}

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

bool unpack(const uchar*& p, const uchar* end, quint16* values, int count)
{
    quint16 low = 0;
    int bits = 0;
    if (!readHeader(p, end, count, &low, &bits))
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

bool unpackOne(const uchar*& p, const uchar* end, int count, int index, quint16* value)
{
    quint16 low = 0;
    int bits = 0;
    if (!readHeader(p, end, count, &low, &bits))
        return false;
    const qint64 first = qint64(index) * bits;
    quint32 acc = 0;
    for (int k = 0; k < 4 && first / 8 + k < (qint64(bits) * count + 7) / 8; ++k)
        acc |= quint32(p[first / 8 + k]) << (8 * k);
    *value = quint16(low + ((acc >> (first % 8)) & ((1u << bits) - 1)));
    p += (qint64(bits) * count + 7) / 8;
    return true;
}

} // namespace HistoryBits
