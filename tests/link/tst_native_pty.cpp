// The native port on a real pseudo-terminal, and the polling worker's sweeps over it, against
// modules played by the far end.
#include "PtyPeer.h"
#include "link/ComPort.h"
#include "link/WorkerObject.h"

#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <cerrno>

namespace {
double firstVolts(int module, int sweep)
{
    return (2400 + 10 * module + 1000 * sweep) / 200.0;
}

struct Rig
{
    PtyPeer peer;
    ComPort port{peer.linkPath(), 19200};
    WorkerObject worker;
    QSignalSpy arrived{&worker, &WorkerObject::dataArrived};
    QSignalSpy errors{&worker, &WorkerObject::comErrorOccured};
    Rig() { worker.setPort(&port); }
    // One sweep, run here: the spies see its signals at once.
    DevicesGuiData sweep()
    {
        const int before = arrived.count();
        worker.timeoutHandler();
        ++peer.sweep;
        return arrived.count() > before ? arrived.last().at(0).value<DevicesGuiData>() : DevicesGuiData();
    }
};
} // namespace

class TestNativePty : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<DevicesGuiData>(); }
    void portOnPty();
    void answerInPieces_data();
    void answerInPieces();
    void vanishedLine();
    void firstSweep();
    void keepRule_data();
    void keepRule();
    void lineVanishesMidSweep_data();
    void lineVanishesMidSweep();
    void pollingThread();
};

void TestNativePty::portOnPty()
{
    PtyPeer peer;
    termios t{};
    QCOMPARE(::tcgetattr(peer.nearEnd(), &t), 0);
    t.c_lflag |= ICANON | ECHO;
    cfsetspeed(&t, B9600);
    QCOMPARE(::tcsetattr(peer.nearEnd(), TCSANOW, &t), 0);
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    QCOMPARE(::tcgetattr(peer.nearEnd(), &t), 0);
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    QCOMPARE(t.c_lflag & (ICANON | ECHO), 0u);
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!port.open());
    QVERIFY(port.close(false));
    // The settings found at open are put back.
    QCOMPARE(::tcgetattr(peer.nearEnd(), &t), 0);
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    QVERIFY(!port.close(false));

    ComPort missing("ttyNoSuchPort9", 19200);
    QCOMPARE(missing.portName(), QString("/dev/ttyNoSuchPort9"));
    QVERIFY(!missing.open());
    QCOMPARE(missing.lastError(), std::uint32_t(ENOENT));
    ComPort notATerminal("/dev/null", 19200);
    QVERIFY(!notATerminal.open());
    QCOMPARE(notATerminal.lastError(), std::uint32_t(ENOTTY));
}

void TestNativePty::answerInPieces_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("byte by byte, 1 ms apart") << int(PtyPeer::Good) << 1 << 1 << 32;
    QTest::newRow("16-byte pieces, 50 ms apart") << int(PtyPeer::Good) << 16 << 50 << 32;
    // Whatever comes after the time-out is not part of this read.
    QTest::newRow("second half too late") << int(PtyPeer::Good) << 16 << 250 << 16;
    QTest::newRow("silent") << int(PtyPeer::Silent) << 32 << 0 << 0;
}

void TestNativePty::answerInPieces()
{
    QFETCH(int, behaviour);
    QFETCH(int, pieceSize);
    QFETCH(int, pauseMs);
    QFETCH(int, expected);
    PtyPeer peer;
    peer.behaviour[2] = behaviour;
    peer.pieceSize = pieceSize;
    peer.pauseMs = pauseMs;
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    QVERIFY(port.write(NativeFrame::request(2).data(), 3));
    std::uint8_t buffer[32] = {};
    std::uint32_t got = 99;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.read(buffer, 32, got));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), int(got)), typicalAnswer(2).left(expected));
    // A short answer holds the read for its whole time-out.
    QVERIFY(expected == 32 || clock.elapsed() >= 119);
    QCOMPARE(port.lastError(), 0u);
}

void TestNativePty::vanishedLine()
{
    PtyPeer peer;
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    peer.vanish();
    std::uint8_t buffer[32];
    std::uint32_t got = 0;
    QVERIFY(!port.read(buffer, 32, got));
    QCOMPARE(port.lastError(), std::uint32_t(EIO));
    // The byte cannot go out; closing fails to put the settings back, so the port stays open
    // with the write's error for the caller, who closes it by force.
    QVERIFY(!port.write(NativeFrame::request(0).data(), 3));
    QCOMPARE(port.lastError(), std::uint32_t(EIO));
    QVERIFY(port.close(true));
    QVERIFY(!port.isOpen());
    QVERIFY(!port.open());
    QCOMPARE(port.lastError(), std::uint32_t(ENOENT));
    QVERIFY(peer.reopen());
    QVERIFY(port.open());
}

void TestNativePty::firstSweep()
{
    Rig rig;
    const QVector<int> behaviours = {0,
                                     0,
                                     PtyPeer::BadChecksum,
                                     0,
                                     PtyPeer::WrongNumber,
                                     0,
                                     0,
                                     PtyPeer::BadHeader,
                                     0,
                                     0,
                                     0,
                                     PtyPeer::Silent,
                                     0,
                                     0,
                                     0,
                                     PtyPeer::WrongNumber};
    for (int i = 0; i < 16; ++i)
        rig.peer.behaviour[i] = behaviours[i];
    const DevicesGuiData data = rig.sweep();
    QCOMPARE(rig.arrived.count(), 1);
    QByteArray requests;
    for (int i = 0; i < 16; ++i) {
        QCOMPARE(data.msd[i].msd_number, std::uint32_t(i));
        QCOMPARE(data.msd[i].valid, behaviours[i] == PtyPeer::Good);
        QVERIFY(!data.msd[i].valid || data.msd[i].channel[7].voltage == (2400 + 10 * i + 7) / 200.0);
        QVERIFY(!data.msd[i].valid || data.msd[i].channel[3].temperature == 21.5);
        requests += QByteArray(reinterpret_cast<const char*>(NativeFrame::request(i).data()), 3);
    }
    QCOMPARE(rig.peer.received().toHex(' '), requests.toHex(' '));
    QCOMPARE(rig.errors.count(), 2);
    QCOMPARE(rig.errors.at(0), (QVariantList{"CS msd_number = address, msd 4", 0xFD000005u}));
    QCOMPARE(rig.errors.at(1), (QVariantList{"CS msd_number = address, msd 15", 0xFD000000u}));
}

void TestNativePty::keepRule_data()
{
    // Module 3 sweep by sweep: g good, s silent, c bad checksum, w the answer of another module.
    QTest::addColumn<QString>("sweeps"); // module 3's answers, then whether its entry is valid
    // Up to four bad frames in a row keep the last good entry; one good answer resets the count.
    QTest::newRow("silent") << "gssssssgs 111110011";
    QTest::newRow("bad checksum") << "gccccccgc 111110011";
    // Another module's answer counts no bad frame: it is kept only while the count runs.
    QTest::newRow("wrong module") << "gwgccwccc 101111110";
}

void TestNativePty::keepRule()
{
    QFETCH(QString, sweeps);
    const QString answers = sweeps.section(' ', 0, 0), valid = sweeps.section(' ', 1);
    Rig rig;
    int lastGood = 0;
    for (int s = 0; s < answers.size(); ++s) {
        rig.peer.behaviour[3] = int(QString("gcbwsx").indexOf(answers[s]));
        const DevicesGuiData data = rig.sweep();
        lastGood = answers[s] == 'g' ? s : lastGood;
        const QString at = QString("sweep %1").arg(s);
        QVERIFY2(data.msd[3].valid == (valid[s] == '1'), qPrintable(at));
        QVERIFY2(!data.msd[3].valid || data.msd[3].channel[0].voltage == firstVolts(3, lastGood),
                 qPrintable(at));
        QCOMPARE(data.msd[3].msd_number, 3u);
        QCOMPARE(data.msd[12].channel[0].voltage, firstVolts(12, s));
    }
    QCOMPARE(rig.errors.count(), answers.count('w'));
    for (const QVariantList& error : rig.errors)
        QCOMPARE(error, (QVariantList{"CS msd_number = address, msd 3", 0xFD000004u}));
}

void TestNativePty::lineVanishesMidSweep_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("validModules");
    QTest::newRow("at the request of module 5") << int(PtyPeer::Vanish) << 5;
    // The next request then finds the line gone.
    QTest::newRow("after answering module 5") << int(PtyPeer::AnswerThenVanish) << 6;
}

void TestNativePty::lineVanishesMidSweep()
{
    QFETCH(int, behaviour);
    QFETCH(int, validModules);
    Rig rig;
    rig.peer.behaviour[5] = behaviour;
    const DevicesGuiData data = rig.sweep();
    for (int i = 0; i < 16; ++i)
        QCOMPARE(data.msd[i].valid, i < validModules);
    QTRY_VERIFY(rig.peer.hasVanished());
    QVERIFY(!rig.port.isOpen());
    // Gone: the port cannot be opened, and the sweep says no module answered.
    const DevicesGuiData gone = rig.sweep();
    QCOMPARE(rig.arrived.count(), 2);
    for (int i = 0; i < 16; ++i)
        QVERIFY(!gone.msd[i].valid && gone.msd[i].msd_number == std::uint32_t(i));
    // Back behind the same path: the next sweep reopens it.
    rig.peer.behaviour[5] = PtyPeer::Good;
    QVERIFY(rig.peer.reopen());
    const DevicesGuiData back = rig.sweep();
    for (int i = 0; i < 16; ++i)
        QVERIFY(back.msd[i].valid);
}

void TestNativePty::pollingThread()
{
    WorkerObject idle;
    QSignalSpy none(&idle, &WorkerObject::dataArrived);
    idle.timeoutHandler();
    QCOMPARE(none.count(), 0);

    Rig rig;
    // A sweep of 16 answering modules takes about 0.35 s here.
    rig.worker.setPollingPeriod(1000);
    int arrivals = 0;
    QThread* deliveredIn = nullptr;
    connect(
        &rig.worker, &WorkerObject::dataArrived, this, [&] { ++arrivals; }, Qt::QueuedConnection);
    connect(
        &rig.worker, &WorkerObject::dataArrived, &rig.worker, [&] { deliveredIn = QThread::currentThread(); },
        Qt::DirectConnection);
    QSignalSpy ticks(rig.worker.pollingTimer(), &QTimer::timeout);
    // Started and stopped again, the timer still starts one sweep a tick.
    for (int round = 0; round < 3; ++round) {
        rig.worker.stopPolling();
        QVERIFY(rig.worker.waitStopped(3000));
        QVERIFY(rig.worker.startPolling());
    }
    QTRY_COMPARE_WITH_TIMEOUT(arrivals, 3, 5000);
    rig.worker.stopPolling();
    QVERIFY(rig.worker.waitStopped(3000));
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 3);
    QCOMPARE(arrivals, 3);
    QCOMPARE(deliveredIn, rig.worker.pollingThread());
    QVERIFY(!rig.worker.pollingTimer()->isActive());
    QVERIFY(rig.worker.startPolling());
    QTRY_COMPARE_WITH_TIMEOUT(arrivals, 4, 5000);
}

QTEST_GUILESS_MAIN(TestNativePty)
#include "tst_native_pty.moc"
