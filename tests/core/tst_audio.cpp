// The alarm sounds through a private PulseAudio with a null sink, whose monitor is recorded.
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

namespace {
PulseServer pulse;
bool pulseUp = false;

// A second at 8 kHz, mono 16-bit.
const QByteArray goodWav =
    QByteArray::fromHex(
        "52494646a43e000057415645666d74201000000001000100401f0000803e00000200100064617461803e0000") +
    QByteArray(16000, 9);
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
        const QByteArray head = goodWav.left(12), fmt = goodWav.mid(12, 24), data = goodWav.mid(36);
        const auto set = [](QByteArray wav, int at, const QByteArray& hex) {
            return wav.replace(at, hex.size() / 2, QByteArray::fromHex(hex));
        };
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("not a wav") << QByteArray("RIFF\x10\x00\x00\x00AVI LIST") << false;
        QTest::newRow("format cut short") << head + fmt.left(14) << false;
        QTest::newRow("huge format chunk") << set(goodWav, 16, "f0ffffff") << false;
        QTest::newRow("no samples") << head + fmt << false;
        QTest::newRow("compressed") << set(goodWav, 20, "02") << false;
        QTest::newRow("zero rate") << set(goodWav, 24, "0000") << false;
        QTest::newRow("huge data chunk plays what is there") << set(goodWav, 40, "f0ffffff") << true;
        QTest::newRow("odd chunk with its pad byte")
            << head + QByteArray("LIST\5\0\0\0hello\0", 14) + fmt + data << true;
        QTest::newRow("data cut in a frame") << goodWav.chopped(3) << true;
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
        // Built in: 0.8 s.
        QVERIFY(AudioSignals::loadSound("crash.wav") != AudioSignals::loadSound("warning.wav"));
        QVERIFY(AudioSignals::loadSound("warning.wav").size() > 44100 * 4 * 3 / 4);
        // The operator learns of it once, however often the alarm sounds.
        for (int i = 0; i < 3; ++i, QTest::qWait(50))
            emit w.window->startCrashSound(), emit w.window->stopSounds();
        const QLabel* label = w.window->statusNotices()->label(StatusNotices::Sound);
        QCOMPARE(label->text(),
                 "Файл crash.wav не воспроизводится: это не файл WAV; звучит встроенный сигнал");
        QVERIFY(label->isVisibleTo(w.window.get()));
    }
    void stateTable_data()
    {
        QTest::addColumn<QString>("actions"); // w = warning, c = crash, s = stop; then the sound and starts
        for (const char* row : {"ww warning.wav 1", "wc crash.wav 2", "cw warning.wav 2", "ws - 1", "s - 0",
                                "cscc crash.wav 2"})
            QTest::newRow(row) << QString(row);
    }
    void stateTable()
    {
        QFETCH(QString, actions);
        const QStringList f = actions.split(' ');
        const QString sound = f[1] == "-" ? QString() : f[1];
        AudioSignals player;
        QVERIFY2(player.hasOutput(), "the audio server refused 44.1 kHz stereo signed 16-bit");
        for (QChar a : f[0])
            a == 'w' ? player.startWarningSound() : a == 'c' ? player.startCrashSound() : player.stopSounds();
        QCOMPARE(player.currentSound(), sound);
        QCOMPARE(player.isPlaying(), !sound.isEmpty());
        QCOMPARE(player.startCount(), f[2].toInt());
        QTest::qWait(100);
        QCOMPARE(player.startCount(), f[2].toInt()); // a stopped output restarts nothing
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
        int peak = 0;
        connect(&parec, &QProcess::readyReadStandardOutput, [&] {
            raw += parec.readAllStandardOutput();
            for (int i = 0; i + 1 < raw.size(); i += 2)
                peak = qMax(peak, qAbs(int(qFromLittleEndian<qint16>(raw.constData() + i))));
            raw = raw.right(raw.size() % 2); // half a sample waits for its other byte
        });
        parec.start("parec",
                    {"-d", "nul.monitor", "--format=s16le", "--rate=44100", "--channels=2", "--raw"});
        // Heard within a few seconds, however slowly the recorder and the stream start.
        const bool heard = QTest::qWaitFor([&] { return peak > 0.2 * 32768; }, 10000);
        parec.terminate();
        QVERIFY(parec.waitForFinished(5000));
        emit w.window->stopSounds();
        QVERIFY2(heard, "the alarm asked for while silent does not sound");
    }
};

int main(int argc, char* argv[])
{
    pulseUp = pulse.start();
    QApplication app(argc, argv);
    TestAudio test;
    return QTest::qExec(&test, argc, argv); // the server goes with `pulse`
}

#include "tst_audio.moc"
