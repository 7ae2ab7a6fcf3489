#include "core/WavData.h"

#include <QtEndian>

namespace WavData {

QByteArray pcmSamples(const QByteArray& wav)
{
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE")
        return {};
    const auto* bytes = reinterpret_cast<const uchar*>(wav.constData());
    const qint64 size = wav.size();
    bool formatOk = false;
    qint64 at = 12;
    while (at + 8 <= size) {
        const QByteArray id = wav.mid(int(at), 4);
        const qint64 length = qFromLittleEndian<quint32>(bytes + at + 4);
        const qint64 body = at + 8;
        if (id == "fmt ") {
            if (length < 16 || body + 16 > size)
                return {};
            const quint16 format = qFromLittleEndian<quint16>(bytes + body);
            const quint16 channels = qFromLittleEndian<quint16>(bytes + body + 2);
            const quint32 rate = qFromLittleEndian<quint32>(bytes + body + 4);
            const quint16 bits = qFromLittleEndian<quint16>(bytes + body + 14);
            formatOk = format == 1 && channels == 2 && rate == 44100 && bits == 16;
        } else if (id == "data") {
            if (!formatOk)
                return {};
            // A truncated file plays what it has, in whole frames.
            qint64 available = qMin(length, size - body);
            available -= available % 4;
            return wav.mid(int(body), int(available));
        }
        at = body + length + (length & 1); // chunks are padded to even sizes
    }
    return {};
}

} // namespace WavData
