#include "core/WavData.h"

#include <QCoreApplication>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace WavData {

namespace {
constexpr quint16 tagPcm = 1;
constexpr quint16 tagFloat = 3;
constexpr quint16 tagExtensible = 0xFFFE;
// The tail every extensible sub-format GUID shares; its first two bytes are the plain tag.
const char guidTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";

QString tr(const char* text)
{
    return QCoreApplication::translate("WavData", text);
}

struct Format
{
    bool isFloat = false;
    int channels = 0;
    int sampleBytes = 0;
    qint64 rate = 0;
    int frameBytes() const { return channels * sampleBytes; }
};

// One sample at p, in -1..1.
double sampleAt(const uchar* p, const Format& f)
{
    if (f.isFloat) {
        double v;
        if (f.sampleBytes == 4) {
            const quint32 bits = qFromLittleEndian<quint32>(p);
            float x;
            std::memcpy(&x, &bits, sizeof x);
            v = x;
        } else {
            const quint64 bits = qFromLittleEndian<quint64>(p);
            std::memcpy(&v, &bits, sizeof v);
        }
        return std::isfinite(v) ? v : 0.0;
    }
    switch (f.sampleBytes) {
    case 1:
        return (int(p[0]) - 128) / 128.0; // 8-bit samples are unsigned
    case 2:
        return qFromLittleEndian<qint16>(p) / 32768.0;
    case 3: {
        const qint32 v = qint32(quint32(p[0]) << 8 | quint32(p[1]) << 16 | quint32(p[2]) << 24);
        return v / 2147483648.0;
    }
    default:
        return qFromLittleEndian<qint32>(p) / 2147483648.0;
    }
}

qint16 toOutput(double v)
{
    return qint16(std::lround(qBound(-32768.0, v * 32768.0, 32767.0)));
}

// Reads the "fmt " chunk; an empty text when it can be played.
QString readFormat(const uchar* body, qint64 length, Format& f)
{
    if (length < 16)
        return tr("описание формата повреждено");
    quint16 tag = qFromLittleEndian<quint16>(body);
    f.channels = qFromLittleEndian<quint16>(body + 2);
    f.rate = qFromLittleEndian<quint32>(body + 4);
    const int bits = qFromLittleEndian<quint16>(body + 14);
    if (tag == tagExtensible) {
        if (length < 40 || qFromLittleEndian<quint16>(body + 16) < 22 ||
            std::memcmp(body + 26, guidTail, 14) != 0)
            return tr("описание формата повреждено");
        tag = qFromLittleEndian<quint16>(body + 24);
    }
    if (tag != tagPcm && tag != tagFloat)
        return tr("формат с кодом %1 не поддерживается, нужен PCM").arg(tag);
    if (f.channels < 1)
        return tr("в файле нет каналов");
    if (f.rate < 1000 || f.rate > 768000)
        return tr("частота %1 Гц не поддерживается").arg(f.rate);
    f.isFloat = tag == tagFloat;
    // Samples of 12 or 20 bits sit left-aligned in whole bytes.
    f.sampleBytes = (bits + 7) / 8;
    const bool fits =
        f.isFloat ? (f.sampleBytes == 4 || f.sampleBytes == 8) : (f.sampleBytes >= 1 && f.sampleBytes <= 4);
    if (!fits)
        return tr("разрядность %1 бит не поддерживается").arg(bits);
    return {};
}

// The data converted to the output format, resampled by linear interpolation.
QByteArray convert(const uchar* data, qint64 frames, const Format& f)
{
    qint64 outFrames = frames * outputRate / f.rate;
    outFrames = qBound<qint64>(1, outFrames, qint64(maxOutputSeconds) * outputRate);
    QByteArray out(int(outFrames * outputFrameBytes), Qt::Uninitialized);
    auto* o = reinterpret_cast<uchar*>(out.data());
    const int right = f.channels > 1 ? f.sampleBytes : 0;
    for (qint64 j = 0; j < outFrames; ++j) {
        const qint64 position = j * f.rate;
        const qint64 i = position / outputRate;
        const double frac = double(position % outputRate) / outputRate;
        const uchar* a = data + qMin(i, frames - 1) * f.frameBytes();
        const uchar* b = data + qMin(i + 1, frames - 1) * f.frameBytes();
        const double l = sampleAt(a, f) * (1 - frac) + sampleAt(b, f) * frac;
        const double r = sampleAt(a + right, f) * (1 - frac) + sampleAt(b + right, f) * frac;
        qToLittleEndian<qint16>(toOutput(l), o + j * outputFrameBytes);
        qToLittleEndian<qint16>(toOutput(r), o + j * outputFrameBytes + 2);
    }
    return out;
}
} // namespace

QByteArray pcmSamples(const QByteArray& wav, QString* problem)
{
    QString why;
    QByteArray pcm;
    const auto* bytes = reinterpret_cast<const uchar*>(wav.constData());
    const qint64 size = wav.size();
    if (size < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") {
        why = tr("это не файл WAV");
    } else {
        Format format;
        bool haveFormat = false;
        qint64 at = 12;
        // The RIFF size field is often wrong: the chunks are walked to the end of the file.
        while (why.isEmpty() && at + 8 <= size) {
            const QByteArray id = wav.mid(int(at), 4);
            const qint64 length = qFromLittleEndian<quint32>(bytes + at + 4);
            const qint64 body = at + 8;
            const qint64 present = qMin(length, size - body);
            if (id == "fmt ") {
                if (present < length)
                    why = tr("описание формата обрезано");
                else
                    why = readFormat(bytes + body, length, format);
                haveFormat = why.isEmpty();
            } else if (id == "data") {
                if (!haveFormat) {
                    why = tr("нет описания формата перед звуком");
                    break;
                }
                // A truncated file plays what it has, in whole frames.
                const qint64 frames = present / format.frameBytes();
                if (frames > 0)
                    pcm = convert(bytes + body, frames, format);
                break;
            }
            at = body + length + (length & 1); // chunks are padded to even sizes
        }
        if (why.isEmpty() && pcm.isEmpty())
            why = haveFormat ? tr("в файле нет звука") : tr("нет описания формата");
    }
    if (problem)
        *problem = why;
    return why.isEmpty() ? pcm : QByteArray();
}

} // namespace WavData
