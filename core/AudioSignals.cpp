#include "core/AudioSignals.h"

#include "core/WavData.h"

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QAudioOutput>
#include <QFile>
#include <QFileInfo>

const char* const AudioSignals::warningFileName = "warning.wav";
const char* const AudioSignals::crashFileName = "crash.wav";
const int AudioSignals::retryMs = 3000;
const int AudioSignals::checkMs = 30000;

namespace {
// A sound is a fraction of a megabyte; anything absurd is refused rather than loaded.
constexpr qint64 maxFileBytes = 64 * 1024 * 1024;

QByteArray readBuiltIn(const QString& fileName)
{
    QFile file(QStringLiteral(":/sounds/") + fileName);
    return file.open(QIODevice::ReadOnly) ? WavData::pcmSamples(file.readAll()) : QByteArray();
}
} // namespace

QByteArray AudioSignals::loadSound(const QString& fileName, QString* problem)
{
    QString why;
    QByteArray pcm;
    const QFileInfo info(fileName);
    if (info.exists()) {
        QFile file(fileName);
        // A pipe or a device under that name would block the reading for good.
        if (!info.isFile())
            why = tr("это не обычный файл");
        else if (info.size() > maxFileBytes)
            why = tr("файл больше 64 МБ");
        else if (!file.open(QIODevice::ReadOnly))
            why = tr("файл не открывается (%1)").arg(file.errorString());
        else
            pcm = WavData::pcmSamples(file.readAll(), &why);
    }
    // An alarm is never silent because a file was not copied or is damaged.
    if (pcm.isEmpty()) {
        Q_INIT_RESOURCE(resources);
        pcm = readBuiltIn(fileName);
    }
    if (problem)
        *problem = why;
    return pcm;
}

AudioSignals::AudioSignals()
{
    const char* const names[] = {warningFileName, crashFileName};
    LoopingSound* const sources[] = {&warningFile, &crashFile};
    for (int i = 0; i < 2; ++i) {
        QString problem;
        sources[i]->setSamples(loadSound(QString::fromLatin1(names[i]), &problem));
        sources[i]->open(QIODevice::ReadOnly);
        if (!problem.isEmpty())
            fileProblems << tr("Файл %1 не воспроизводится: %2; звучит встроенный сигнал")
                                .arg(QString::fromLatin1(names[i]), problem);
    }
    silence.setData(QByteArray(WavData::outputRate / 10 * WavData::outputFrameBytes, '\0'));
    silence.open(QIODevice::ReadOnly);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &AudioSignals::tryOutput);
    tryOutput();
}

AudioSignals::~AudioSignals() = default;

QString AudioSignals::trouble() const
{
    QStringList lines;
    if (!outputProblem.isEmpty())
        lines << tr("Звук тревоги не воспроизводится: %1").arg(outputProblem);
    return (lines + fileProblems).join(QStringLiteral("  |  "));
}

void AudioSignals::tryOutput()
{
    if (!output) {
        // WAV files are converted to signed 16-bit; an unsigned format is refused by PulseAudio.
        QAudioFormat format;
        format.setSampleRate(WavData::outputRate);
        format.setChannelCount(2);
        format.setSampleSize(16);
        format.setCodec(QStringLiteral("audio/pcm"));
        format.setByteOrder(QAudioFormat::LittleEndian);
        format.setSampleType(QAudioFormat::SignedInt);
        const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
        if (device.isNull())
            return dropOutput(tr("нет устройства вывода звука"));
        if (!device.isFormatSupported(format))
            return dropOutput(
                tr("устройство %1 не принимает 44,1 кГц, стерео, 16 бит").arg(device.deviceName()));
        output = new QAudioOutput(device, format, this);
        connect(output, &QAudioOutput::stateChanged, this, &AudioSignals::handleStateChanged);
        if (!currentName.isEmpty()) {
            // An alarm was asked for while there was no sound: it sounds now.
            ++starts;
            output->start(&dedicatedSource());
        }
    }
    // A working output is checked now and then while silent: the sound server may have
    // gone away since the last alarm.
    if (output && currentName.isEmpty() && !probing) {
        probing = true;
        silence.seek(0);
        output->start(&silence);
    }
    if (outputFailed())
        return;
    if (output->state() == QAudio::ActiveState || output->state() == QAudio::IdleState)
        setOutputProblem(QString());
    retryTimer.start(checkMs);
}

bool AudioSignals::outputFailed()
{
    if (!output)
        return true;
    switch (output->error()) {
    case QAudio::OpenError:
        dropOutput(tr("устройство вывода не открывается"));
        return true;
    case QAudio::IOError:
        dropOutput(tr("ошибка записи в устройство вывода"));
        return true;
    case QAudio::FatalError:
        dropOutput(tr("устройство вывода или звуковой сервер недоступны"));
        return true;
    default:
        return false;
    }
}

void AudioSignals::dropOutput(const QString& reason)
{
    if (output) {
        // Called from the output's own signal: it goes once that returns.
        output->disconnect(this);
        output->deleteLater();
        output = nullptr;
    }
    probing = false;
    setOutputProblem(reason);
    retryTimer.start(retryMs);
}

void AudioSignals::setOutputProblem(const QString& reason)
{
    if (reason == outputProblem)
        return;
    outputProblem = reason;
    emit troubleChanged(trouble());
}

LoopingSound& AudioSignals::dedicatedSource()
{
    return currentName == QLatin1String(warningFileName) ? warningFile : crashFile;
}

void AudioSignals::startOn(LoopingSound& source, const QString& name)
{
    // The name first: stopping the old sound reports a state change that must see it.
    // Without an output the name is kept, so the sound starts once the output is back.
    currentName = name;
    probing = false;
    if (!output)
        return;
    ++starts;
    output->start(&source);
    if (!outputFailed() && output->state() == QAudio::ActiveState)
        setOutputProblem(QString());
}

void AudioSignals::startWarningSound()
{
    if (currentName == QLatin1String(warningFileName))
        return;
    startOn(warningFile, QString::fromLatin1(warningFileName));
}

void AudioSignals::startCrashSound()
{
    if (currentName == QLatin1String(crashFileName))
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
    if (!output)
        return;
    if (state == QAudio::StoppedState) {
        outputFailed();
        return;
    }
    if (state == QAudio::ActiveState)
        setOutputProblem(QString());
    if (state != QAudio::IdleState)
        return;
    if (probing) {
        // The silence played to its end: the output works.
        probing = false;
        setOutputProblem(QString());
        if (currentName.isEmpty())
            output->stop();
        return;
    }
    if (currentName.isEmpty())
        return;
    // The output ran dry while a sound should play: the same sound again from the beginning.
    currentFile.close();
    currentFile.setSamples(dedicatedSource().data());
    currentFile.open(QIODevice::ReadOnly);
    output->stop();
    if (currentName.isEmpty() || !output)
        return;
    ++starts;
    output->start(&currentFile);
}
