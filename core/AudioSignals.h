#pragma once

#include "core/LoopingSound.h"
#include <QAudio>

#include <QObject>

class QAudioOutput;

// Plays the warning or the emergency sound in an endless loop until stopped or replaced.
// Which sound plays is decided by the alarm logic; this only plays what it is told.
// The loop lives in the stream itself (the output waits for an idle report only as a
// safety net: PulseAudio reports it late or not at all, which would leave gaps).
class AudioSignals : public QObject
{
    Q_OBJECT
public:
    static const char* const warningFileName; // "warning.wav"
    static const char* const crashFileName;   // "crash.wav"

    AudioSignals();
    ~AudioSignals() override;

    bool isPlaying() const { return !currentName.isEmpty(); }
    // The sound now playing: empty, "warning.wav" or "crash.wav".
    QString currentSound() const { return currentName; }
    // False when the default device refused the format: the player stays silent.
    bool hasOutput() const { return output != nullptr; }
    // How many times the output was started; a test's window on the state table.
    int startCount() const { return starts; }

    // The samples of a sound: the file of that name in the working directory, or the
    // built-in copy when the file is missing or not a 44.1 kHz stereo 16-bit WAV.
    static QByteArray loadSound(const QString& fileName);

public slots:
    void startWarningSound();
    void startCrashSound();
    void stopSounds();

private slots:
    void handleStateChanged(QAudio::State state);

private:
    void startOn(LoopingSound& source, const QString& name);

    LoopingSound crashFile;
    LoopingSound warningFile;
    LoopingSound currentFile;
    QString currentName;
    QAudioOutput* output = nullptr;
    int starts = 0;
};
