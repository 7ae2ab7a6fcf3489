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
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <cstring>

namespace {
PulseServer pulse;
bool pulseUp = false;

// What the sink plays, as raw 44.1 kHz stereo signed 16-bit samples, from the moment the
// recorder (which takes a while to connect) delivers its first samples.
struct Recorder
{
    QProcess process;
    QByteArray raw;
    bool start()
    {
        process.start("parec", {"--latency-msec=20", "-d", "nul.monitor", "--format=s16le", "--rate=44100",
                                "--channels=2", "--raw"});
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { raw += process.readAllStandardOutput(); });
        const bool ok = process.waitForStarted() && QTest::qWaitFor([this] { return !raw.isEmpty(); }, 10000);
        raw.clear();
        return ok;
    }
    QByteArray stop()
    {
        process.terminate();
        process.waitForFinished(5000);
        return raw += process.readAllStandardOutput();
    }
};

// One channel of a recording: frequency from zero crossings and peak level (of full scale),
// over the whole stretch or in 20 ms windows.
struct Tone
{
    double hertz;
    double peak;
};
QVector<Tone> analyse(const QByteArray& raw, int channel, int windowFrames)
{
    const auto* p = reinterpret_cast<const uchar*>(raw.constData()) + 2 * channel;
    QVector<Tone> out;
    for (int start = 0; start + windowFrames <= raw.size() / 4; start += windowFrames) {
        int crossings = 0, peak = 0;
        for (int i = 0; i < windowFrames; ++i) {
            const qint16 v = qFromLittleEndian<qint16>(p + (start + i) * 4);
            peak = qMax(peak, qAbs(int(v)));
            if (i > 0 && (v < 0) != (qFromLittleEndian<qint16>(p + (start + i - 1) * 4) < 0))
                ++crossings;
        }
        out.append({crossings / 2.0 / (windowFrames / 44100.0), peak / 32768.0});
    }
    return out;
}

// A WAV file of one second: a sine of `hertz` at `amplitude` (of full scale) on the first
// channel, of 1.5 times that frequency on the second.
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
                std::memcpy(sample, &f, 4);
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
    auto chunk = [](const char* id, const QByteArray& body) {
        uchar length[4];
        qToLittleEndian<quint32>(quint32(body.size()), length);
        return QByteArray(id, 4) + QByteArray(reinterpret_cast<const char*>(length), 4) + body +
               QByteArray(body.size() % 2, '\0');
    };
    const QByteArray chunks =
        chunk("fmt ", QByteArray(reinterpret_cast<const char*>(f), extensible ? 40 : 16)) +
        chunk("data", data);
    uchar riffLength[4];
    qToLittleEndian<quint32>(quint32(chunks.size() + 4), riffLength);
    return "RIFF" + QByteArray(reinterpret_cast<const char*>(riffLength), 4) + "WAVE" + chunks;
}
} // namespace

class TestAudio : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!pulseUp)
            QSKIP(qPrintable("no audio server: " + pulse.problem));
        QVERIFY2(!QStandardPaths::findExecutable("parec").isEmpty(), "parec is not installed");
    }
    void damagedFiles_data()
    {
        QTest::addColumn<QByteArray>("wav");
        QTest::addColumn<bool>("playable");
        const QByteArray good = wavFile(8000, 1, 16, false, false, 440, 0.5);
        const QByteArray head = good.left(12), fmt = good.mid(12, 24), data = good.mid(36);
        auto withLength = [](QByteArray chunk, quint32 length) {
            qToLittleEndian<quint32>(length, reinterpret_cast<uchar*>(chunk.data()) + 4);
            return chunk;
        };
        auto patched = [](QByteArray wav, int at, char value) { return wav.replace(at, 1, &value, 1); };
        QByteArray badGuid = wavFile(8000, 1, 16, false, true, 440, 0.5);
        const QByteArray list("LIST\x05\x00\x00\x00hello\x00", 14);
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("header only") << head << false;
        QTest::newRow("not a wav") << QByteArray("RIFF\x10\x00\x00\x00AVI LIST") << false;
        QTest::newRow("format cut short") << head + fmt.left(14) << false;
        QTest::newRow("huge format chunk") << head + withLength(fmt, 0xFFFFFFF0u) + data << false;
        QTest::newRow("samples before format") << head + data + fmt << false;
        QTest::newRow("no samples") << head + fmt << false;
        QTest::newRow("compressed") << patched(good, 20, 2) << false;
        QTest::newRow("no channels") << patched(good, 22, 0) << false;
        QTest::newRow("zero rate") << patched(patched(good, 24, 0), 25, 0) << false;
        QTest::newRow("64-bit integers") << patched(good, 34, 64) << false;
        QTest::newRow("extensible, unknown sub-format") << patched(badGuid, 50, 'x') << false;
        QTest::newRow("huge data chunk plays what is there")
            << head + fmt + withLength(data, 0xFFFFFFF0u) << true;
        QTest::newRow("odd chunk with its pad byte") << head + list + fmt + data << true;
        QTest::newRow("data cut in a frame") << good.left(good.size() - 3) << true;
    }
    void damagedFiles()
    {
        QFETCH(QByteArray, wav);
        QFETCH(bool, playable);
        QString problem;
        const QByteArray pcm = WavData::pcmSamples(wav, &problem);
        QCOMPARE(!pcm.isEmpty(), playable);
        QVERIFY2(problem.isEmpty() == playable, qPrintable(problem));
        QCOMPARE(pcm.size() % WavData::outputFrameBytes, 0);
    }
    void builtInCopyStandsIn()
    {
        QTemporaryDir empty;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(empty.path());
        const QByteArray warning = AudioSignals::loadSound("warning.wav");
        QFile bad("crash.wav");
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("not a wav file at all") > 0);
        bad.close();
        const QByteArray crash = AudioSignals::loadSound("crash.wav");
        QDir::setCurrent(previous);
        QVERIFY(warning.size() > 44100 * 4 * 3 / 4); // 0.8 s and 0.5 s long
        QVERIFY(crash.size() > 44100 * 4 / 3 && crash != warning);

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
    void stateTable_data()
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
    void stateTable()
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
    void recordedLoopSwitchAndStop()
    {
        // The server takes a moment to set up the first stream; let that pass unrecorded.
        AudioSignals player;
        player.startCrashSound();
        QTest::qWait(1500);
        player.stopSounds();
        QTest::qWait(300);

        Recorder recorder;
        QVERIFY(recorder.start());
        player.startWarningSound();
        QTest::qWait(2000); // two and a half loops
        player.startCrashSound();
        QTest::qWait(1000);
        player.stopSounds();
        QTest::qWait(700);
        const QByteArray raw = recorder.stop();

        // Runs of the same kind of sound in 20 ms windows: - silent, W warning, C emergency.
        QVector<QPair<QChar, int>> runs;
        for (const Tone& t : analyse(raw, 0, 882)) {
            const QChar k = t.peak < 0.05 ? '-' : t.hertz < 760 ? 'W' : 'C';
            if (runs.isEmpty() || runs.last().first != k)
                runs.append({k, 0});
            runs.last().second += 20;
        }
        while (!runs.isEmpty() && runs.first().first == '-')
            runs.removeFirst();
        QString shape;
        for (const auto& r : runs)
            shape += QString("%1:%2 ").arg(r.first).arg(r.second);
        QVERIFY2(runs.size() >= 3 && runs.last().first == '-', qPrintable(shape));
        QVERIFY2(runs.last().second >= 400, qPrintable("not silent after stop: " + shape));

        // Warning, then the emergency: anything else inside a sound no longer than 100 ms.
        int ms[2] = {0, 0}, phase = 0;
        for (int i = 0; i + 1 < runs.size(); ++i) {
            phase = qMax(phase, int(runs[i].first == 'C'));
            if (runs[i].first == (phase ? 'C' : 'W'))
                ms[phase] += runs[i].second;
            else
                QVERIFY2(runs[i].second <= 100, qPrintable("gap in the loop: " + shape));
        }
        // The warning repeats, and gives way at once rather than playing out its 0.8 s loop.
        QVERIFY2(ms[0] >= 1600 && ms[0] <= 2200, qPrintable(shape));
        QVERIFY2(ms[1] >= 800 && ms[1] <= 1200, qPrintable(shape));
    }
    void otherFormats_data()
    {
        QTest::addColumn<QByteArray>("wav");
        QTest::addColumn<double>("hertz");
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<double>("rightHertz");
        QTest::newRow("48 kHz mono 16-bit")
            << wavFile(48000, 1, 16, false, false, 440, 0.5) << 440.0 << 0.5 << 440.0;
        QTest::newRow("8-bit unsigned")
            << wavFile(44100, 1, 8, false, false, 660, 0.5) << 660.0 << 0.5 << 660.0;
        QTest::newRow("48 kHz 24-bit")
            << wavFile(48000, 1, 24, false, false, 880, 0.4) << 880.0 << 0.4 << 880.0;
        QTest::newRow("48 kHz 32-bit integer")
            << wavFile(48000, 1, 32, false, false, 550, 0.6) << 550.0 << 0.6 << 550.0;
        QTest::newRow("22.05 kHz stereo")
            << wavFile(22050, 2, 16, false, false, 1000, 0.5) << 1000.0 << 0.5 << 1500.0;
        QTest::newRow("extensible 48 kHz stereo 24-bit")
            << wavFile(48000, 2, 24, false, true, 750, 0.5) << 750.0 << 0.5 << 1125.0;
        QTest::newRow("8 kHz 32-bit float")
            << wavFile(8000, 1, 32, true, false, 300, 0.5) << 300.0 << 0.5 << 300.0;
    }
    void otherFormats()
    {
        QFETCH(QByteArray, wav);
        QFETCH(double, hertz);
        QFETCH(double, amplitude);
        QFETCH(double, rightHertz);
        QTemporaryDir folder;
        QFile file(folder.filePath("warning.wav"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size());
        file.close();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(folder.path());
        AudioSignals player;
        QDir::setCurrent(previous);
        QCOMPARE(player.trouble(), QString());

        player.startWarningSound();
        QTest::qWait(300);
        Recorder recorder;
        QVERIFY(recorder.start());
        QTest::qWait(1200);
        const QByteArray raw = recorder.stop();
        player.stopSounds();
        const int frames = raw.size() / 4;
        QVERIFY(frames > 44100 / 2);
        const Tone left = analyse(raw, 0, frames).value(0), right = analyse(raw, 1, frames).value(0);
        const QString shown =
            QString("%1 Hz, amplitude %2; right %3 Hz").arg(left.hertz).arg(left.peak).arg(right.hertz);
        QVERIFY2(qAbs(left.hertz - hertz) < hertz * 0.05, qPrintable(shown));
        QVERIFY2(qAbs(left.peak - amplitude) < 0.05, qPrintable(shown));
        QVERIFY2(qAbs(right.hertz - rightHertz) < rightHertz * 0.05, qPrintable(shown));
    }
    void outputComesBack()
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
        QTRY_VERIFY_WITH_TIMEOUT(w.window->soundPlayer()->startCount() > 0, 5000);
        QTest::qWait(300);
        Recorder recorder;
        QVERIFY(recorder.start());
        QTest::qWait(1000);
        const QByteArray raw = recorder.stop();
        emit w.window->stopSounds();
        QVERIFY2(analyse(raw, 0, raw.size() / 4).value(0).peak > 0.2,
                 "the alarm asked for while silent does not sound");
    }
};

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
