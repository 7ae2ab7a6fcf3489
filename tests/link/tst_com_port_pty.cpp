// The native port on a real pseudo-terminal: framing, timing and recovery.
#include "AnswerFrame.h"
#include "PtyPeer.h"
#include "link/ComPort.h"

#include <QElapsedTimer>
#include <QtTest>
#include <cerrno>
#include <termios.h>

class TestComPortPty : public QObject
{
    Q_OBJECT
private slots:
    void openAndCloseRules();
    void settingsPutBackAtClose();
    void silentReadTakes120ms();
    void answerInPieces_data();
    void answerInPieces();
    void vanishedLine();
};

void TestComPortPty::openAndCloseRules()
{
    PtyPeer peer;
    QVERIFY(peer.isReady());
    ComPort port(peer.linkPath(), 19200);
    QCOMPARE(port.portName(), peer.linkPath());
    QVERIFY(!port.close(false));
    QVERIFY(port.open());
    QVERIFY(port.isOpen());
    QVERIFY(!port.open());
    QCOMPARE(port.lastError(), 0u);
    QVERIFY(port.close(false));
    QVERIFY(!port.isOpen());
    QVERIFY(port.close(true));

    ComPort missing(QStringLiteral("ttyNoSuchPort9"), 19200);
    QCOMPARE(missing.portName(), QStringLiteral("/dev/ttyNoSuchPort9"));
    QVERIFY(!missing.open());
    QCOMPARE(missing.lastError(), static_cast<std::uint32_t>(ENOENT));
    QCOMPARE(missing.lastError(), 0u);

    ComPort notATerminal(QStringLiteral("/dev/null"), 19200);
    QVERIFY(!notATerminal.open());
    QCOMPARE(notATerminal.lastError(), static_cast<std::uint32_t>(ENOTTY));
}

void TestComPortPty::settingsPutBackAtClose()
{
    PtyPeer peer;
    QVERIFY(peer.isReady());
    termios before{};
    QCOMPARE(::tcgetattr(peer.slaveDescriptor(), &before), 0);
    before.c_lflag |= ICANON | ECHO;
    cfsetospeed(&before, B9600);
    cfsetispeed(&before, B9600);
    QCOMPARE(::tcsetattr(peer.slaveDescriptor(), TCSANOW, &before), 0);

    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    termios during{};
    QCOMPARE(::tcgetattr(peer.slaveDescriptor(), &during), 0);
    QCOMPARE(cfgetospeed(&during), static_cast<speed_t>(B19200));
    QCOMPARE(during.c_lflag & (ICANON | ECHO), 0u);
    QCOMPARE(during.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    QVERIFY(port.close(false));
    termios after{};
    QCOMPARE(::tcgetattr(peer.slaveDescriptor(), &after), 0);
    QCOMPARE(cfgetospeed(&after), static_cast<speed_t>(B9600));
    QCOMPARE(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
}

void TestComPortPty::silentReadTakes120ms()
{
    PtyPeer peer;
    QVERIFY(peer.isReady());
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    std::uint8_t buffer[32];
    std::uint32_t got = 99;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.read(buffer, 32, got));
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(got, 0u);
    QCOMPARE(port.lastError(), 0u);
    QVERIFY2(elapsed >= 119 && elapsed < 1000, qPrintable(QString::number(elapsed)));
}

void TestComPortPty::answerInPieces_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("whole") << 0 << 0 << 32;
    QTest::newRow("byte by byte, 0.6 ms apart") << 1 << 1 << 32;
    QTest::newRow("8-byte pieces, 20 ms apart") << 8 << 20 << 32;
    QTest::newRow("16-byte pieces, 50 ms apart") << 16 << 50 << 32;
    // Whatever comes after the time-out is not part of this read.
    QTest::newRow("second half too late") << 16 << 250 << 16;
}

void TestComPortPty::answerInPieces()
{
    QFETCH(int, pieceSize);
    QFETCH(int, pauseMs);
    QFETCH(int, expected);
    PtyPeer peer;
    QVERIFY(peer.isReady());
    const QByteArray frame = AnswerFrame::typical(2).bytes(2);
    peer.setChunking(pieceSize, pauseMs);
    peer.setResponder([&](int) { return frame; });
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    const std::uint8_t request[3] = {0x0B, 0x81, 0x8C};
    QVERIFY(port.write(request, 3));
    std::uint8_t buffer[32] = {};
    std::uint32_t got = 0;
    QVERIFY(port.read(buffer, 32, got));
    QCOMPARE(static_cast<int>(got), expected);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), static_cast<int>(got)), frame.left(expected));
}

void TestComPortPty::vanishedLine()
{
    PtyPeer peer;
    QVERIFY(peer.isReady());
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    peer.vanishNow();

    std::uint8_t buffer[32];
    std::uint32_t got = 0;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!port.read(buffer, 32, got));
    QCOMPARE(port.lastError(), static_cast<std::uint32_t>(EIO));
    const std::uint8_t request[3] = {0x03, 0x81, 0x84};
    // The byte cannot go out; closing fails to put the settings back, so the port stays
    // open with the write's error for the caller, who closes it by force.
    QVERIFY(!port.write(request, 3));
    QCOMPARE(port.lastError(), static_cast<std::uint32_t>(EIO));
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(port.close(true));
    QVERIFY(!port.isOpen());
    QVERIFY(!port.open());
    QCOMPARE(port.lastError(), static_cast<std::uint32_t>(ENOENT));

    QVERIFY(peer.reopen());
    QVERIFY(port.open());
}

QTEST_GUILESS_MAIN(TestComPortPty)
#include "tst_com_port_pty.moc"
