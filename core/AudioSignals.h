#pragma once

#include "core/LoopingSound.h"
#include <QAudio>

#include <QBuffer>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QAudioOutput;

// Plays the warning or the emergency sound in an endless loop until stopped or replaced.
// Which sound plays is decided by the alarm logic; this only plays what it is told.
// The loop lives in the stream itself (the output waits for an idle report only as a
// safety net: PulseAudio reports it late or not at all, which would leave gaps).
// An alarm must not fall silent unnoticed: when the output cannot play, trouble() says
// why and the output is tried again every few seconds; a sound asked for meanwhile
// starts as soon as the output works again.
class AudioSignals : public QObject
{
    Q_OBJECT
public:
    static const char* const warningFileName; // "warning.wav"
    static const char* const crashFileName;   // "crash.wav"
    static const int retryMs;                 // between attempts while the output fails
    static const int checkMs;                 // between checks of a working, silent output

    AudioSignals();
    ~AudioSignals() override;

    bool isPlaying() const { return !currentName.isEmpty(); }
    // The sound now playing: empty, "warning.wav" or "crash.wav".
    QString currentSound() const { return currentName; }
    // False while there is no output to play on.
    bool hasOutput() const { return output != nullptr; }
    // How many times the output was started on a sound; a test's window on the state table.
    int startCount() const { return starts; }
    // For the operator, empty when all is well: why the alarm cannot sound, and which of
    // the operator's sound files gave way to the built-in sound.
    QString trouble() const;

    // The samples of a sound: the file of that name in the working directory, or the
    // built-in copy when the file is missing or cannot be decoded (`problem` then says why;
    // a missing file is no problem).
    static QByteArray loadSound(const QString& fileName, QString* problem = nullptr);

signals:
    void troubleChanged(const QString& text);

public slots:
    void startWarningSound();
    void startCrashSound();
    void stopSounds();

private slots:
    void handleStateChanged(QAudio::State state);
    void tryOutput();

private:
    void startOn(LoopingSound& source, const QString& name);
    LoopingSound& dedicatedSource();
    bool outputFailed();
    void setOutputProblem(const QString& reason);
    void dropOutput(const QString& reason);

    LoopingSound crashFile;
    LoopingSound warningFile;
    LoopingSound currentFile;
    QString currentName;
    QAudioOutput* output = nullptr;
    int starts = 0;
    // A short silence played to learn whether the output works while no alarm sounds.
    QBuffer silence;
    bool probing = false;
    QTimer retryTimer;
    QString outputProblem;
    QStringList fileProblems;
};
