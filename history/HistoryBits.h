#pragma once

#include <QByteArray>
#include <QtGlobal>

// Arrays of 16-bit values stored as offsets from their lowest value in as few bits as the
// spread needs: a 2-byte base, a 1-byte width, then the offsets, LSB first. Unpacking is a
// few shifts per value, and any one value can be read without the others.
namespace HistoryBits {

void pack(QByteArray* out, const quint16* values, int count);
// Reads an array of `count` values at `p` and moves `p` past it; false when the data ends early.
bool unpack(const uchar*& p, const uchar* end, quint16* values, int count);
// The same for value `index` alone.
bool unpackOne(const uchar*& p, const uchar* end, int count, int index, quint16* value);

// Presence bitmaps: bit b set when battery b has a value.
void setPresent(char* bitmap, int index);
// Fills `present` with the indices whose bit is set, in order; returns how many.
int presentIndices(const uchar* bitmap, int count, int* present);

} // namespace HistoryBits
