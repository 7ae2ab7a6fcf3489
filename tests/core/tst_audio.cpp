// The alarm sounds through a real audio server: a private PulseAudio with a null sink,
// whose monitor is recorded and analysed.
#include "../common/PulseServer.h"
#include "../common/TextColour.h"
#include "../common/WindowInFolder.h"
#include "app/StatusNotices.h"
#include "core/AudioSignals.h"
#include "core/WavData.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <cstring>

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

// A WAV file of one second: a sine of `hertz` at `amplitude` (of full scale) on the first
// channel, of 1.5 times that on the second.
QByteArray wavFile(int rate, int channels, int bits, bool isFloat, bool extensible, double hertz,
                   double amplitude)
{
    const int bytes = bits / 8;
    QByteArray data;
    for (int i = 0; i < rate; ++i)
        for (int c = 0; c < channels; ++c) {
            const double v = amplitude * std::sin(2 * M_PI * hertz * (c ? 1.5 : 1) * i / rate);
            uchar sample[4];
            if (isFloat) {
                const float f = float(v);
                quint32 word;
                std::memcpy(&word, &f, 4);
                qToLittleEndian<quint32>(word, sample);
            } else if (bytes == 1) {
                sample[0] = uchar(std::lround(128 + v * 127));
            } else {
                const qint64 full = std::llround(v * ((qint64(1) << (bits - 1)) - 1));
                for (int b = 0; b < bytes; ++b)
                    sample[b] = uchar(full >> (8 * b));
            }
            data.append(reinterpret_cast<const char*>(sample), bytes);
        }
    uchar f[40] = {};
    const quint16 tag = isFloat ? 3 : 1;
    qToLittleEndian<quint16>(extensible ? 0xFFFE : tag, f);
    qToLittleEndian<quint16>(quint16(channels), f + 2);
    qToLittleEndian<quint32>(quint32(rate), f + 4);
    qToLittleEndian<quint32>(quint32(rate * channels * bytes), f + 8);
    qToLittleEndian<quint16>(quint16(channels * bytes), f + 12);
    qToLittleEndian<quint16>(quint16(bits), f + 14);
    if (extensible) {
        qToLittleEndian<quint16>(22, f + 16);
        qToLittleEndian<quint16>(quint16(bits), f + 18);
        qToLittleEndian<quint32>(channels == 1 ? 4 : 3, f + 20);
        qToLittleEndian<quint16>(tag, f + 24);
        std::memcpy(f + 26, "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    const QByteArray fmt(reinterpret_cast<const char*>(f), extensible ? 40 : 16);
    auto chunk = [](const char* id, const QByteArray& body) {
        QByteArray c(id, 4);
        uchar length[4];
        qToLittleEndian<quint32>(quint32(body.size()), length);
        c.append(reinterpret_cast<const char*>(length), 4);
        c += body;
        if (body.size() % 2)
            c += '\0';
        return c;
    };
    const QByteArray chunks = chunk("fmt ", fmt) + chunk("data", data);
    uchar riffLength[4];
    qToLittleEndian<quint32>(quint32(chunks.size() + 4), riffLength);
    return "RIFF" + QByteArray(reinterpret_cast<const char*>(riffLength), 4) + "WAVE" + chunks;
}

// What the sink plays during `ms`, once the recorder delivers, as raw 44.1 kHz stereo
// 16-bit samples written to `path`.
bool recordSink(const QString& path, int ms)
{
    QProcess recorder;
    recorder.start("parec", {"--latency-msec=20", "-d", "nul.monitor", "--format=s16le", "--rate=44100",
                             "--channels=2", "--raw"});
    if (!recorder.waitForStarted())
        return false;
    // The recorder takes a while to connect: the recording begins with its first samples.
    QByteArray raw;
    QObject::connect(&recorder, &QProcess::readyReadStandardOutput,
                     [&] { raw += recorder.readAllStandardOutput(); });
    if (!QTest::qWaitFor([&] { return !raw.isEmpty(); }, 10000))
        return false;
    raw.clear();
    QTest::qWait(ms);
    recorder.terminate();
    recorder.waitForFinished(5000);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(raw) == raw.size() && raw.size() > 0;
}

// sox's estimate of the first channel of a recording: {rough frequency, maximum amplitude}.
QPair<double, double> soxStat(const QString& path)
{
    QProcess sox;
    sox.start("sox", {"-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "2", path, "-n", "remix",
                      "1", "stat"});
    sox.waitForFinished(10000);
    const QString text = QString::fromLatin1(sox.readAllStandardError());
    auto value = [&](const char* name) {
        const QRegularExpressionMatch m = QRegularExpression(QString(name) + ":\\s*([-0-9.]+)").match(text);
        return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
    };
    return {value("Rough\\s+frequency"), value("Maximum amplitude")};
}
} // namespace

class TestAudio : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void soundFiles_data();
    void soundFiles();
    void damagedFiles_data();
    void damagedFiles();
    void builtInCopyStandsIn();
    void stateTable_data();
    void stateTable();
    void recordedLoopSwitchAndStop();
    void otherFormats_data();
    void otherFormats();
    void outputComesBack();
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
}

void TestAudio::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("wav");
    QTest::addColumn<bool>("playable");
    const QByteArray good = wavFile(8000, 1, 16, false, false, 440, 0.5);
    const QByteArray head = good.left(12), fmt = good.mid(12, 24), data = good.mid(36);
    auto withLength = [](QByteArray chunk, quint32 length) {
        qToLittleEndian<quint32>(length, reinterpret_cast<uchar*>(chunk.data()) + 4);
        return chunk;
    };
    QByteArray compressed = good, noChannels = good, zeroRate = good, wideInt = good;
    compressed[20] = 2;
    noChannels[22] = 0;
    zeroRate[24] = zeroRate[25] = 0;
    wideInt[34] = 64;
    QByteArray badGuid = wavFile(8000, 1, 16, false, true, 440, 0.5);
    badGuid[12 + 8 + 30] = 'x';
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("header only") << head << false;
    QTest::newRow("not a wav") << QByteArray("RIFF\x10\x00\x00\x00AVI LIST") << false;
    QTest::newRow("format cut short") << head + fmt.left(14) << false;
    QTest::newRow("huge format chunk") << head + withLength(fmt, 0xFFFFFFF0u) + data << false;
    QTest::newRow("samples before format") << head + data + fmt << false;
    QTest::newRow("no samples") << head + fmt << false;
    QTest::newRow("compressed") << compressed << false;
    QTest::newRow("no channels") << noChannels << false;
    QTest::newRow("zero rate") << zeroRate << false;
    QTest::newRow("64-bit integers") << wideInt << false;
    QTest::newRow("extensible, unknown sub-format") << badGuid << false;
    QTest::newRow("huge data chunk plays what is there")
        << head + fmt + withLength(data, 0xFFFFFFF0u) << true;
    QTest::newRow("odd chunk with its pad byte")
        << head + QByteArray("LIST\x05\x00\x00\x00hello\x00", 14) + fmt + data << true;
    QTest::newRow("data cut in a frame") << good.left(good.size() - 3) << true;
}

void TestAudio::damagedFiles()
{
    QFETCH(QByteArray, wav);
    QFETCH(bool, playable);
    QString problem;
    const QByteArray pcm = WavData::pcmSamples(wav, &problem);
    QCOMPARE(!pcm.isEmpty(), playable);
    QVERIFY2(problem.isEmpty() == playable, qPrintable(problem));
    QCOMPARE(pcm.size() % WavData::outputFrameBytes, 0);
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

    // The operator learns of it once, however often the alarm sounds.
    WindowInFolder w(QByteArray(), {{"crash.wav", "not a wav file at all"}});
    QVERIFY(w.window->soundPlayer()->hasOutput());
    for (int i = 0; i < 3; ++i) {
        emit w.window->startCrashSound();
        QTest::qWait(50);
        emit w.window->stopSounds();
    }
    const QLabel* label = w.window->statusNotices()->label(StatusNotices::Sound);
    QCOMPARE(label->text(),
             QString("Файл crash.wav не воспроизводится: это не файл WAV; звучит встроенный сигнал"));
    QVERIFY(label->isVisibleTo(w.window.get()));
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

void TestAudio::otherFormats_data()
{
    QTest::addColumn<QByteArray>("wav");
    QTest::addColumn<double>("hertz");
    QTest::addColumn<double>("amplitude");
    QTest::newRow("48 kHz mono 16-bit") << wavFile(48000, 1, 16, false, false, 440, 0.5) << 440.0 << 0.5;
    QTest::newRow("8-bit unsigned") << wavFile(44100, 1, 8, false, false, 660, 0.5) << 660.0 << 0.5;
    QTest::newRow("48 kHz 24-bit") << wavFile(48000, 1, 24, false, false, 880, 0.4) << 880.0 << 0.4;
    QTest::newRow("48 kHz 32-bit integer") << wavFile(48000, 1, 32, false, false, 550, 0.6) << 550.0 << 0.6;
    QTest::newRow("22.05 kHz stereo") << wavFile(22050, 2, 16, false, false, 1000, 0.5) << 1000.0 << 0.5;
    QTest::newRow("extensible 48 kHz stereo 24-bit")
        << wavFile(48000, 2, 24, false, true, 750, 0.5) << 750.0 << 0.5;
    QTest::newRow("8 kHz 32-bit float") << wavFile(8000, 1, 32, true, false, 300, 0.5) << 300.0 << 0.5;
}

void TestAudio::otherFormats()
{
    QFETCH(QByteArray, wav);
    QFETCH(double, hertz);
    QFETCH(double, amplitude);
    QTemporaryDir folder;
    QFile file(folder.filePath("warning.wav"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(wav);
    file.close();
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    AudioSignals player;
    QDir::setCurrent(previous);
    QCOMPARE(player.trouble(), QString());

    player.startWarningSound();
    QTest::qWait(300);
    const QString recording = folder.filePath("recording.raw");
    QVERIFY(recordSink(recording, 1200));
    player.stopSounds();
    const QPair<double, double> measured = soxStat(recording);
    const QString shown = QString("%1 Hz, amplitude %2").arg(measured.first).arg(measured.second);
    QVERIFY2(qAbs(measured.first - hertz) < hertz * 0.05, qPrintable(shown));
    QVERIFY2(qAbs(measured.second - amplitude) < 0.05, qPrintable(shown));
}

void TestAudio::outputComesBack()
{
    // Last: the server goes away, and a fresh one comes up.
    pulse.stop();
    WindowInFolder w;
    QLabel* label = w.window->statusNotices()->label(StatusNotices::Sound);
    w.window->show();
    QTRY_VERIFY_WITH_TIMEOUT(label->text().startsWith("Звук тревоги не воспроизводится: "), 10000);
    QVERIFY(label->isVisible());
    QVERIFY(pixelsNear(label, Qt::red) > 20);
    // An alarm raised meanwhile sounds once the output works again.
    emit w.window->startWarningSound();
    QVERIFY2(pulse.start(), qPrintable(pulse.problem));
    QTRY_VERIFY_WITH_TIMEOUT(label->text().isEmpty(), 20000);
    QVERIFY(!label->isVisible());
    AudioSignals* player = w.window->soundPlayer();
    QTRY_VERIFY_WITH_TIMEOUT(player->startCount() > 0, 5000);
    QTest::qWait(300);
    const QString recording = w.dir.filePath("recording.raw");
    QVERIFY(recordSink(recording, 1000));
    emit w.window->stopSounds();
    QVERIFY2(soxStat(recording).second > 0.2, "the alarm asked for while silent does not sound");
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
