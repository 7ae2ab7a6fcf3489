// The alarm sounds through a real audio server: a private PulseAudio with a null sink,
// whose monitor is recorded.
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

namespace {
PulseServer pulse;
bool pulseUp = false;

// A second of 440 Hz at 8 kHz, mono 16-bit.
QByteArray wavFile()
{
    QByteArray data;
    for (int i = 0; i < 8000; ++i) {
        const qint16 v = qint16(16000 * std::sin(2 * M_PI * 440 * i / 8000));
        data.append(char(v)).append(char(v >> 8));
    }
    uchar f[16] = {};
    qToLittleEndian<quint16>(1, f);
    qToLittleEndian<quint16>(1, f + 2);
    qToLittleEndian<quint32>(8000, f + 4);
    qToLittleEndian<quint32>(16000, f + 8);
    qToLittleEndian<quint16>(2, f + 12);
    qToLittleEndian<quint16>(16, f + 14);
    const auto chunk = [](const char* id, const QByteArray& body) {
        uchar length[4];
        qToLittleEndian<quint32>(quint32(body.size()), length);
        return QByteArray(id, 4) + QByteArray(reinterpret_cast<const char*>(length), 4) + body;
    };
    return chunk("RIFF", "WAVE" + chunk("fmt ", QByteArray(reinterpret_cast<const char*>(f), 16)) +
                             chunk("data", data));
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
        const QByteArray good = wavFile();
        const QByteArray head = good.left(12), fmt = good.mid(12, 24), data = good.mid(36);
        auto withLength = [](QByteArray chunk, quint32 length) {
            qToLittleEndian<quint32>(length, reinterpret_cast<uchar*>(chunk.data()) + 4);
            return chunk;
        };
        auto patched = [](QByteArray wav, int at, char value) { return wav.replace(at, 1, &value, 1); };
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("not a wav") << QByteArray("RIFF\x10\x00\x00\x00AVI LIST") << false;
        QTest::newRow("format cut short") << head + fmt.left(14) << false;
        QTest::newRow("huge format chunk") << head + withLength(fmt, 0xFFFFFFF0u) + data << false;
        QTest::newRow("no samples") << head + fmt << false;
        QTest::newRow("compressed") << patched(good, 20, 2) << false;
        QTest::newRow("zero rate") << patched(patched(good, 24, 0), 25, 0) << false;
        QTest::newRow("huge data chunk plays what is there")
            << head + fmt + withLength(data, 0xFFFFFFF0u) << true;
        QTest::newRow("odd chunk with its pad byte")
            << head + QByteArray("LIST\5\0\0\0hello\0", 14) + fmt + data << true;
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
        WindowInFolder w(QByteArray(), {{"crash.wav", "not a wav file at all"}});
        const QByteArray warning = AudioSignals::loadSound("warning.wav"),
                         crash = AudioSignals::loadSound("crash.wav");
        QVERIFY(warning.size() > 44100 * 4 * 3 / 4); // 0.8 s and 0.5 s long
        QVERIFY(crash.size() > 44100 * 4 / 3 && crash != warning);
        // The operator learns of it once, however often the alarm sounds.
        for (int i = 0; i < 3; ++i) {
            emit w.window->startCrashSound();
            QTest::qWait(50);
            emit w.window->stopSounds();
        }
        const QLabel* label = w.window->statusNotices()->label(StatusNotices::Sound);
        QCOMPARE(label->text(),
                 "Файл crash.wav не воспроизводится: это не файл WAV; звучит встроенный сигнал");
        QVERIFY(label->isVisibleTo(w.window.get()));
    }
    void stateTable_data()
    {
        QTest::addColumn<QString>("actions"); // w = warning, c = crash, s = stop
        QTest::addColumn<QString>("sound");
        QTest::addColumn<int>("starts");
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
        for (QChar a : actions)
            a == 'w' ? player.startWarningSound() : a == 'c' ? player.startCrashSound() : player.stopSounds();
        QCOMPARE(player.currentSound(), sound);
        QCOMPARE(player.isPlaying(), !sound.isEmpty());
        QCOMPARE(player.startCount(), starts);
        QTest::qWait(100);
        QCOMPARE(player.startCount(), starts); // a stopped output restarts nothing
    }
    void outputComesBack()
    {
        // Last: the server goes away, and a fresh one comes up.
        pulse.stop();
        WindowInFolder w;
        QLabel* label = w.window->statusNotices()->label(StatusNotices::Sound);
        w.window->show();
        QTRY_VERIFY_WITH_TIMEOUT(label->text().startsWith("Звук тревоги не воспроизводится: "), 10000);
        QVERIFY(label->isVisible() && pixelsNear(label, Qt::red) > 20);
        // An alarm raised meanwhile sounds once the output works again.
        emit w.window->startWarningSound();
        QVERIFY2(pulse.start(), qPrintable(pulse.problem));
        QTRY_VERIFY_WITH_TIMEOUT(label->text().isEmpty() && !label->isVisible(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(w.window->soundPlayer()->startCount() > 0, 5000);
        QProcess parec;
        QByteArray raw;
        connect(&parec, &QProcess::readyReadStandardOutput, [&] { raw += parec.readAllStandardOutput(); });
        parec.start("parec",
                    {"-d", "nul.monitor", "--format=s16le", "--rate=44100", "--channels=2", "--raw"});
        QTest::qWait(1500);
        parec.terminate();
        QVERIFY(parec.waitForFinished(5000));
        emit w.window->stopSounds();
        raw += parec.readAllStandardOutput();
        int peak = 0;
        for (int i = 0; i + 1 < raw.size(); i += 2)
            peak = qMax(peak, qAbs(int(qFromLittleEndian<qint16>(raw.constData() + i))));
        QVERIFY2(peak > 0.2 * 32768, "the alarm asked for while silent does not sound");
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
