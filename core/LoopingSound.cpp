#include "core/LoopingSound.h"

#include <cstring>

qint64 LoopingSound::bytesAvailable() const
{
    return samples.isEmpty() ? QIODevice::bytesAvailable() : samples.size() + QIODevice::bytesAvailable();
}

qint64 LoopingSound::readData(char* data, qint64 maxSize)
{
    if (samples.isEmpty())
        return -1;
    qint64 done = 0;
    while (done < maxSize) {
        const qint64 chunk = qMin(maxSize - done, qint64(samples.size()) - position);
        std::memcpy(data + done, samples.constData() + position, size_t(chunk));
        done += chunk;
        position = (position + chunk) % samples.size();
    }
    return done;
}
