#include "core/AudioSignals.h"

#include "core/WavData.h"

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QAudioOutput>
#include <QFile>

const char* const AudioSignals::warningFileName = "warning.wav";
const char* const AudioSignals::crashFileName = "crash.wav";

namespace {
QByteArray readAll(const QString& path)
{
    QFile file(path);
    // A sound is a fraction of a megabyte; refuse anything absurd rather than load it.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024)
        return {};
    return file.readAll();
}
} // namespace

QByteArray AudioSignals::loadSound(const QString& fileName)
{
    QByteArray pcm = WavData::pcmSamples(readAll(fileName));
    if (pcm.isEmpty()) {
        // An alarm is never silent because a file was not copied.
        Q_INIT_RESOURCE(resources);
        pcm = WavData::pcmSamples(readAll(QStringLiteral(":/sounds/") + fileName));
    }
    return pcm;
}

AudioSignals::AudioSignals()
{
    warningFile.setSamples(loadSound(QString::fromLatin1(warningFileName)));
    crashFile.setSamples(loadSound(QString::fromLatin1(crashFileName)));

    // WAV files hold signed 16-bit samples; an unsigned format is refused by PulseAudio.
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(2);
    format.setSampleSize(16);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);

    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    if (device.isNull() || !device.isFormatSupported(format))
        return;
    output = new QAudioOutput(device, format, this);
    connect(output, &QAudioOutput::stateChanged, this, &AudioSignals::handleStateChanged);
    warningFile.open(QIODevice::ReadOnly);
    crashFile.open(QIODevice::ReadOnly);
    currentName.clear();
}

AudioSignals::~AudioSignals() = default;

void AudioSignals::startOn(LoopingSound& source, const QString& name)
{
    if (!output)
        return;
    // The name first: stopping the old sound reports a state change that must see it.
    currentName = name;
    ++starts;
    output->start(&source);
}

void AudioSignals::startWarningSound()
{
    if (!output || currentName == QLatin1String(warningFileName))
        return;
    startOn(warningFile, QString::fromLatin1(warningFileName));
}

void AudioSignals::startCrashSound()
{
    if (!output || currentName == QLatin1String(crashFileName))
        return;
    startOn(crashFile, QString::fromLatin1(crashFileName));
}

void AudioSignals::stopSounds()
{
    if (currentName.isEmpty())
        return;
    currentName.clear();
    if (output)
        output->stop();
}

void AudioSignals::handleStateChanged(QAudio::State state)
{
    if (state != QAudio::IdleState || currentName.isEmpty() || !output)
        return;
    // The output ran dry while a sound should play: the same sound again from the beginning.
    const LoopingSound& dedicated = currentName == QLatin1String(warningFileName) ? warningFile : crashFile;
    currentFile.close();
    currentFile.setSamples(dedicated.data());
    currentFile.open(QIODevice::ReadOnly);
    output->stop();
    if (currentName.isEmpty())
        return;
    ++starts;
    output->start(&currentFile);
}
