#pragma once

#include <QByteArray>
#include <QString>

// The samples of a WAV file in the format the alarm output is opened with: 44.1 kHz,
// stereo, signed 16-bit little endian. Any PCM WAV is converted: integer samples of 8
// (unsigned), 16, 24 or 32 bits, 32-bit float, any rate, mono or stereo (further channels
// are dropped), plain or extensible header. The RIFF chunks are walked with every length
// checked against the file, so a damaged or hostile file is refused, never read past.
namespace WavData {
constexpr int outputRate = 44100;
constexpr int outputFrameBytes = 4;
// Longer sounds are cut: an alarm loops, and a minute bounds the memory a file can claim.
constexpr int maxOutputSeconds = 60;

// Empty when the file cannot be played; `problem` then says why, in the operator's words.
QByteArray pcmSamples(const QByteArray& wav, QString* problem = nullptr);
} // namespace WavData
