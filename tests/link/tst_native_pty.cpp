// The native port on a real pseudo-terminal, and the polling worker's sweeps over it, against
// modules played by the far end.
#include "PtyPeer.h"
#include "link/ComPort.h"
#include "link/WorkerObject.h"

#include <QSignalSpy>
#include <QtTest>
#include <cerrno>

namespace {
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
        worker.timeoutHandler();
        ++peer.sweep;
        return arrived.isEmpty() ? DevicesGuiData() : arrived.takeLast().at(0).value<DevicesGuiData>();
    }
};
} // namespace

class TestNativePty : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<DevicesGuiData>(); }
    void answerInPieces_data();
    void answerInPieces();
    void keepRule();
    void lineVanishesMidSweep();
};

void TestNativePty::answerInPieces_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("byte by byte, 1 ms apart") << 1 << 1 << 32;
    // Whatever comes after the time-out is not part of this read.
    QTest::newRow("second half too late") << 16 << 250 << 16;
    QTest::newRow("silent") << 32 << 0 << 0;
}

void TestNativePty::answerInPieces()
{
    QFETCH(int, pieceSize);
    QFETCH(int, pauseMs);
    QFETCH(int, expected);
    PtyPeer peer;
    peer.behaviour[2] = expected ? PtyPeer::Good : PtyPeer::Silent;
    peer.pieceSize = pieceSize;
    peer.pauseMs = pauseMs;
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    QVERIFY(port.write(NativeFrame::request(2).data(), 3));
    std::uint8_t buffer[32] = {};
    std::uint32_t got = 99;
    QVERIFY(port.read(buffer, 32, got));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), int(got)), typicalAnswer(2).left(expected));
    QCOMPARE(port.lastError(), 0u);
}

void TestNativePty::keepRule()
{
    // Module 3 sweep by sweep: g good, c bad checksum, w the answer of another module, s silent;
    // then whether its entry is valid. Up to four bad frames in a row keep the last good entry;
    // another module's answer counts none, and is kept only while the count runs.
    const QString answers = "gwgcswcccgc", valid = "10111111011";
    Rig rig;
    int lastGood = 0;
    for (int s = 0; s < answers.size(); ++s) {
        rig.peer.behaviour[3] = int(QString("gcws").indexOf(answers[s]));
        const DevicesGuiData data = rig.sweep();
        lastGood = answers[s] == 'g' ? s : lastGood;
        const QByteArray at = "sweep " + QByteArray::number(s);
        QVERIFY2(data.msd[3].valid == (valid[s] == '1'), at);
        QVERIFY2(!data.msd[3].valid || data.msd[3].channel[0].voltage == (2430 + 1000 * lastGood) / 200.0,
                 at);
        QCOMPARE(data.msd[3].msd_number, 3u);
        QCOMPARE(data.msd[12].channel[0].voltage, (2520 + 1000 * s) / 200.0);
    }
    QCOMPARE(rig.errors.count(), answers.count('w'));
    for (const QVariantList& error : rig.errors)
        QCOMPARE(error, (QVariantList{"CS msd_number = address, msd 3", 0xFD000004u}));
}

void TestNativePty::lineVanishesMidSweep()
{
    Rig rig;
    rig.peer.behaviour[5] = PtyPeer::Vanish;
    DevicesGuiData data = rig.sweep();
    for (int i = 0; i < 16; ++i)
        QCOMPARE(data.msd[i].valid, i < 5);
    QTRY_VERIFY(rig.peer.hasVanished());
    QVERIFY(!rig.port.isOpen());
    // Gone: the port cannot be opened, and the sweep says no module answered.
    QVERIFY(!rig.port.open());
    QCOMPARE(rig.port.lastError(), std::uint32_t(ENOENT));
    data = rig.sweep();
    for (int i = 0; i < 16; ++i)
        QVERIFY(!data.msd[i].valid && data.msd[i].msd_number == std::uint32_t(i));
    // Back behind the same path: the next sweep reopens it.
    rig.peer.behaviour[5] = PtyPeer::Good;
    QVERIFY(rig.peer.reopen());
    data = rig.sweep();
    for (int i = 0; i < 16; ++i)
        QVERIFY(data.msd[i].valid);
}

QTEST_GUILESS_MAIN(TestNativePty)
#include "tst_native_pty.moc"
