// The alarm sounds through a real audio server: a private PulseAudio with a null sink,
// whose monitor is recorded and analysed.
#include "core/AudioSignals.h"
#include "core/WavData.h"
#include "../common/PulseServer.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cmath>

namespace {
PulseServer pulse;
bool pulseUp = false;

// One 20 ms window of the recording: loud or not, and a frequency from zero crossings.
struct Window
{
    bool loud;
    double hertz;
};

QVector<Window> analyse(const QByteArray& raw)
{
    const int frame = 4, perWindow = 882; // 20 ms at 44.1 kHz
    QVector<Window> out;
    const int frames = raw.size() / frame;
    const auto* p = reinterpret_cast<const uchar*>(raw.constData());
    for (int start = 0; start + perWindow <= frames; start += perWindow) {
        double energy = 0;
        int crossings = 0;
        qint16 previous = 0;
        for (int i = 0; i < perWindow; ++i) {
            const qint16 left = qFromLittleEndian<qint16>(p + (start + i) * frame);
            energy += double(left) * left;
            if (i > 0 && ((previous < 0) != (left < 0)))
                ++crossings;
            previous = left;
        }
        const double rms = std::sqrt(energy / perWindow);
        out.append({rms > 1000, crossings / 2.0 / 0.02});
    }
    return out;
}

enum class Kind
{
    Silent,
    Warning,
    Crash
};
Kind kindOf(const Window& w)
{
    if (!w.loud)
        return Kind::Silent;
    return w.hertz < 760 ? Kind::Warning : Kind::Crash;
}
} // namespace

class TestAudio : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void soundFiles_data();
    void soundFiles();
    void builtInCopyStandsIn();
    void stateTable_data();
    void stateTable();
    void recordedLoopSwitchAndStop();
};

void TestAudio::initTestCase()
{
    if (!pulseUp)
        QSKIP(qPrintable("no audio server: " + pulse.problem));
    QVERIFY2(!QStandardPaths::findExecutable("parec").isEmpty(), "parec is not installed");
}

void TestAudio::soundFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("seconds");
    QTest::newRow("warning") << "warning.wav" << 0.8;
    QTest::newRow("crash") << "crash.wav" << 0.5;
}

void TestAudio::soundFiles()
{
    QFETCH(QString, name);
    QFETCH(double, seconds);
    QFile f(QString(ORVIK_SOURCE_DIR) + "/resources/" + name);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray wav = f.readAll();
    const QByteArray pcm = WavData::pcmSamples(wav);
    QCOMPARE(pcm.size() / 4 / 44100.0 > seconds - 0.01, true);
    QVERIFY(pcm.size() < wav.size()); // the header is not part of the sound
    // An extra chunk before the samples (a longer header) is walked over.
    QByteArray padded = wav.left(12) + QByteArray("LIST\x05\x00\x00\x00hello\x00", 14) + wav.mid(12);
    QCOMPARE(WavData::pcmSamples(padded), pcm);
    // Other formats are refused rather than played as noise.
    QByteArray mono = wav;
    mono[22] = 1;
    QVERIFY(WavData::pcmSamples(mono).isEmpty());
    QVERIFY(WavData::pcmSamples("RIFF\x10\x00\x00\x00WAVEdata").isEmpty());
    QVERIFY(WavData::pcmSamples(QByteArray()).isEmpty());
}

void TestAudio::builtInCopyStandsIn()
{
    QTemporaryDir empty;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(empty.path());
    const QByteArray builtIn = AudioSignals::loadSound("warning.wav");
    QFile bad("crash.wav");
    bad.open(QIODevice::WriteOnly);
    bad.write("not a wav file at all");
    bad.close();
    const QByteArray crash = AudioSignals::loadSound("crash.wav");
    QDir::setCurrent(previous);
    QVERIFY(builtIn.size() > 44100 * 4 / 2);
    QVERIFY(crash.size() > 44100 * 4 / 3);
    QVERIFY(crash != builtIn);
}

void TestAudio::stateTable_data()
{
    QTest::addColumn<QString>("actions"); // w = warning, c = crash, s = stop
    QTest::addColumn<QString>("sound");
    QTest::addColumn<int>("starts");
    QTest::newRow("warning") << "w"
                             << "warning.wav" << 1;
    QTest::newRow("warning twice starts once") << "ww"
                                               << "warning.wav" << 1;
    QTest::newRow("crash replaces warning") << "wc"
                                            << "crash.wav" << 2;
    QTest::newRow("warning replaces crash") << "cw"
                                            << "warning.wav" << 2;
    QTest::newRow("stop") << "ws"
                          << "" << 1;
    QTest::newRow("stop while silent") << "s"
                                       << "" << 0;
    QTest::newRow("stop then start again") << "cscc"
                                           << "crash.wav" << 2;
}

void TestAudio::stateTable()
{
    QFETCH(QString, actions);
    QFETCH(QString, sound);
    QFETCH(int, starts);
    AudioSignals player;
    QVERIFY2(player.hasOutput(), "the audio server refused 44.1 kHz stereo signed 16-bit");
    for (QChar a : actions) {
        if (a == 'w')
            player.startWarningSound();
        else if (a == 'c')
            player.startCrashSound();
        else
            player.stopSounds();
    }
    QCOMPARE(player.currentSound(), sound);
    QCOMPARE(player.isPlaying(), !sound.isEmpty());
    QCOMPARE(player.startCount(), starts);
    QTest::qWait(100);
    QCOMPARE(player.startCount(), starts); // a stopped output restarts nothing
}

void TestAudio::recordedLoopSwitchAndStop()
{
    // The server takes a moment to set up the first stream; let that pass unrecorded.
    AudioSignals player;
    player.startCrashSound();
    QTest::qWait(1500);
    player.stopSounds();
    QTest::qWait(300);

    QProcess recorder;
    recorder.start("parec", {"--latency-msec=20", "-d", "nul.monitor", "--format=s16le", "--rate=44100",
                             "--channels=2", "--raw"});
    QVERIFY(recorder.waitForStarted());
    QByteArray raw;
    connect(&recorder, &QProcess::readyReadStandardOutput, [&] { raw += recorder.readAllStandardOutput(); });
    // The recorder takes a while to connect: begin once it delivers (silent) samples.
    QTRY_VERIFY_WITH_TIMEOUT(raw.size() > 44100 * 4 / 5, 10000);

    player.startWarningSound();
    QTest::qWait(2000); // two and a half loops
    player.startCrashSound();
    QTest::qWait(1000);
    player.stopSounds();
    QTest::qWait(700);
    recorder.terminate();
    recorder.waitForFinished();
    raw += recorder.readAllStandardOutput();
    if (!qEnvironmentVariableIsEmpty("ORVIK_KEEP_RECORDING")) {
        QFile keep(qEnvironmentVariable("ORVIK_KEEP_RECORDING"));
        if (keep.open(QIODevice::WriteOnly))
            keep.write(raw);
    }

    // Runs of the same kind of sound, in order.
    struct Run
    {
        Kind kind;
        int windows;
    };
    QVector<Run> runs;
    for (const Window& w : analyse(raw)) {
        const Kind k = kindOf(w);
        if (runs.isEmpty() || runs.last().kind != k)
            runs.append({k, 0});
        ++runs.last().windows;
    }
    while (!runs.isEmpty() && runs.first().kind == Kind::Silent)
        runs.removeFirst();
    QString shape;
    for (const Run& r : runs)
        shape += QString("%1:%2 ")
                     .arg(r.kind == Kind::Silent    ? "-"
                          : r.kind == Kind::Warning ? "W"
                                                    : "C")
                     .arg(r.windows * 20);
    QVERIFY2(runs.size() >= 3, qPrintable(shape));

    // Warning, then the emergency, then silence; a silent stretch inside a sound only
    // where no longer than 100 ms.
    int warningMs = 0, crashMs = 0, index = 0;
    for (; index < runs.size() && runs[index].kind != Kind::Crash; ++index) {
        if (runs[index].kind == Kind::Warning)
            warningMs += runs[index].windows * 20;
        else
            QVERIFY2(runs[index].windows * 20 <= 100, qPrintable("gap in the warning loop: " + shape));
    }
    QVERIFY2(warningMs >= 1600, qPrintable("the warning did not repeat: " + shape)); // two loops at least
    // The switch happens at once: the warning does not play out its 0.8 s loop first.
    QVERIFY2(warningMs <= 2000 + 200, qPrintable(shape));
    for (; index < runs.size() - 1; ++index) {
        if (runs[index].kind == Kind::Crash)
            crashMs += runs[index].windows * 20;
        else
            QVERIFY2(runs[index].windows * 20 <= 100, qPrintable("gap in the emergency loop: " + shape));
    }
    QVERIFY2(crashMs >= 800 && crashMs <= 1200, qPrintable(shape));
    QCOMPARE(runs.last().kind, Kind::Silent);
    QVERIFY2(runs.last().windows * 20 >= 400, qPrintable("not silent after stop: " + shape));
}

int main(int argc, char* argv[])
{
    pulseUp = pulse.start();
    QApplication app(argc, argv);
    TestAudio test;
    const int rc = QTest::qExec(&test, argc, argv);
    pulse.stop();
    return rc;
}

#include "tst_audio.moc"
