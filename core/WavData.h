#pragma once

#include <QByteArray>

// The PCM samples of a WAV file, found by walking its RIFF chunks (the header is not
// always 44 bytes). Empty when the file is not a 44.1 kHz stereo 16-bit PCM WAV, the
// only format the alarm output is opened with.
namespace WavData {
QByteArray pcmSamples(const QByteArray& wav);
} // namespace WavData
