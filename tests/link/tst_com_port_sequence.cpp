// The exact line operations of the native port, recorded through its line interface: a
// pseudo-terminal cannot show parity, so the ninth-bit sequence is checked here.
#include "RecordingLine.h"
#include "link/ComPort.h"

#include <QtTest>
#include <cerrno>
#include <thread>

namespace {
const QStringList kOpenSteps = {"open", "get", "drain", "set even", "get", "modem off"};
const QStringList kCloseSteps = {"set none @9600", "close"};

struct Fixture
{
    RecordingLine* line;
    ComPort port;
    Fixture()
        : line(new RecordingLine), port(QStringLiteral("ttyS4"), 19200, std::unique_ptr<SerialLine>(line))
    {
    }
};

bool writeRequest(ComPort& port, const QByteArray& bytes)
{
    return port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      static_cast<std::uint32_t>(bytes.size()));
}

// Fails the named operation with error for its first count calls (-1: every call).
std::function<int(const QString&, int)> failing(const QString& operation, int count, int error)
{
    return [=](const QString& op, int n) { return op == operation && (count < 0 || n <= count) ? error : 0; };
}
} // namespace

class TestComPortSequence : public QObject
{
    Q_OBJECT
private slots:
    void openSteps();
    void writeSequence_data();
    void writeSequence();
    void readAfterWrite();
    void parityFailures_data();
    void parityFailures();
    void writeFailure_data();
    void writeFailure();
    void openFailures_data();
    void openFailures();
    void closeRules_data();
    void closeRules();
    void pseudoTerminal();
    void nothingToWrite();
    void closedPort();
    void closeWaitsForRead();
};

void TestComPortSequence::openSteps()
{
    Fixture f;
    QVERIFY(f.port.open());
    QCOMPARE(f.line->log(), kOpenSteps);
    QCOMPARE(f.port.portName(), QStringLiteral("/dev/ttyS4"));
    QCOMPARE(f.port.lastError(), 0u);
    f.line->clearLog();
    QVERIFY(!f.port.open());
    QCOMPARE(f.port.lastError(), 0u);
    QVERIFY(f.line->log().isEmpty());
}

void TestComPortSequence::writeSequence_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    const QStringList head = {"drain", "set even inpck", "get", "drain", "set mark inpck", "get"};
    const QStringList toSpace = {"pause 20", "drain", "set space inpck", "get"};
    QTest::newRow("one byte") << QByteArray::fromHex("03") << head + QStringList{"write 03"} + toSpace;
    QTest::newRow("request of module 0")
        << QByteArray::fromHex("038184")
        << head + QStringList{"write 03"} + toSpace + QStringList{"write 81", "write 84"};
    QTest::newRow("request of module 15")
        << QByteArray::fromHex("3f81c0")
        << head + QStringList{"write 3f"} + toSpace + QStringList{"write 81", "write c0"};
    QTest::newRow("five bytes") << QByteArray::fromHex("0102030405")
                                << head + QStringList{"write 01"} + toSpace +
                                       QStringList{"write 02", "write 03", "write 04", "write 05"};
}

void TestComPortSequence::writeSequence()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    Fixture f;
    QVERIFY(f.port.open());
    f.line->clearLog();
    QVERIFY(writeRequest(f.port, bytes));
    QCOMPARE(f.line->log(), expected);
    QCOMPARE(f.port.lastError(), 0u);
}

void TestComPortSequence::readAfterWrite()
{
    Fixture f;
    QVERIFY(f.port.open());
    QVERIFY(writeRequest(f.port, QByteArray::fromHex("038184")));
    f.line->clearLog();
    f.line->pendingInput = QByteArray(20, 'x');
    std::uint8_t buffer[32] = {};
    std::uint32_t got = 99;
    QVERIFY(f.port.read(buffer, 32, got));
    QCOMPARE(got, 20u);
    QCOMPARE(f.line->log(), (QStringList{"drain", "set space", "get", "read 32 within 120", "read done"}));

    // The next request switches parity checking on and the address byte to mark again.
    f.line->clearLog();
    QVERIFY(writeRequest(f.port, QByteArray::fromHex("078188")));
    QCOMPARE(f.line->log().mid(0, 7),
             (QStringList{"drain", "set space inpck", "get", "drain", "set mark inpck", "get", "write 07"}));
}

void TestComPortSequence::parityFailures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("dropsCmspar");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("expectedError");
    QTest::addColumn<QString>("counted");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("bytesWritten");

    QTest::newRow("mark fails 3 times, then holds")
        << "set mark inpck" << 3 << EIO << false << true << 0 << "set mark inpck" << 4 << 3;
    QTest::newRow("mark fails 9 times, the 10th holds")
        << "set mark inpck" << 9 << EIO << false << true << 0 << "set mark inpck" << 10 << 3;
    QTest::newRow("mark never holds")
        << "set mark inpck" << -1 << EIO << false << false << EIO << "set mark inpck" << 10 << 0;
    QTest::newRow("read-back of mark fails")
        << "get" << -1 << EIO << false << false << EIO << "set mark inpck" << 0 << 0;
    QTest::newRow("driver drops CMSPAR silently")
        << QString() << 0 << 0 << true << false << ENOTSUP << "set mark inpck" << 10 << 0;
    QTest::newRow("space never holds")
        << "set space inpck" << -1 << EIO << false << false << EIO << "set space inpck" << 10 << 1;
    QTest::newRow("parity checking fails, no retry")
        << "set even inpck" << 1 << EIO << false << false << EIO << "set even inpck" << 1 << 0;
    QTest::newRow("line never drains")
        << "drain" << -1 << ETIMEDOUT << false << false << ETIMEDOUT << "drain" << 1 << 0;
    QTest::newRow("drain late once") << "drain" << 2 << ETIMEDOUT << false << false << ETIMEDOUT << "drain"
                                     << 1 << 0;
}

void TestComPortSequence::parityFailures()
{
    QFETCH(QString, operation);
    QFETCH(int, failures);
    QFETCH(int, error);
    QFETCH(bool, dropsCmspar);
    QFETCH(bool, result);
    QFETCH(int, expectedError);
    QFETCH(QString, counted);
    QFETCH(int, count);
    QFETCH(int, bytesWritten);

    Fixture f;
    QVERIFY(f.port.open());
    f.line->clearLog();
    if (!operation.isEmpty())
        f.line->failure = failing(operation, failures, error);
    if (dropsCmspar)
        f.line->driverAdjusts = [](termios& t) { t.c_cflag &= ~CMSPAR; };

    QCOMPARE(writeRequest(f.port, QByteArray::fromHex("038184")), result);
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(expectedError));
    QCOMPARE(f.port.lastError(), 0u);
    const QStringList log = f.line->log();
    QCOMPARE(log.count(counted), count);
    const QStringList writes = log.filter(QRegularExpression("^write "));
    QCOMPARE(writes.size(), bytesWritten);
    // A failed parity change never closes the port.
    QVERIFY(f.port.isOpen());
    QVERIFY(!log.contains("close"));
}

void TestComPortSequence::writeFailure_data()
{
    QTest::addColumn<QString>("failingWrite");
    QTest::addColumn<QString>("failingStep");
    QTest::addColumn<int>("stepError");
    QTest::addColumn<int>("expectedError");
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<QStringList>("afterFailure");

    const QStringList reopen = kCloseSteps + kOpenSteps;
    QTest::newRow("address byte fails, reopened") << "write 03" << QString() << 0 << 0 << true << reopen;
    QTest::newRow("second byte fails, reopened") << "write 81" << QString() << 0 << 0 << true << reopen;
    QTest::newRow("last byte fails, reopened") << "write 84" << QString() << 0 << 0 << true << reopen;
    QTest::newRow("reopening fails") << "write 81"
                                     << "open" << ENOENT << EIO << false << kCloseSteps + QStringList{"open"};
    QTest::newRow("settings not put back")
        << "write 81"
        << "set none @9600" << EPERM << EIO << true << QStringList{"set none @9600"};
    QTest::newRow("close fails") << "write 03"
                                 << "close" << EBADF << EIO << true << kCloseSteps;
}

void TestComPortSequence::writeFailure()
{
    QFETCH(QString, failingWrite);
    QFETCH(QString, failingStep);
    QFETCH(int, stepError);
    QFETCH(int, expectedError);
    QFETCH(bool, openAfter);
    QFETCH(QStringList, afterFailure);

    Fixture f;
    QVERIFY(f.port.open());
    f.line->clearLog();
    f.line->failure = [=](const QString& op, int n) {
        if (op == failingWrite)
            return EIO;
        // The reopening is the second open of the line.
        if (op == failingStep && (op != "open" || n >= 1))
            return stepError;
        return 0;
    };
    QVERIFY(!writeRequest(f.port, QByteArray::fromHex("038184")));
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(expectedError));
    QCOMPARE(f.port.isOpen(), openAfter);
    const QStringList log = f.line->log();
    const int failedAt = log.indexOf(failingWrite);
    QVERIFY(failedAt >= 0);
    QCOMPARE(log.mid(failedAt + 1), afterFailure);
}

void TestComPortSequence::openFailures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("dropsParity");
    QTest::addColumn<int>("expectedError");
    QTest::addColumn<QStringList>("expectedLog");

    QTest::newRow("no such device") << "open" << ENOENT << false << ENOENT << QStringList{"open"};
    QTest::newRow("busy") << "open" << EBUSY << false << EBUSY << QStringList{"open"};
    QTest::newRow("settings unreadable")
        << "get" << EIO << false << EIO << QStringList{"open", "get", "close"};
    QTest::newRow("settings refused")
        << "set even" << EINVAL << false << EINVAL
        << QStringList{"open", "get", "drain", "set even", "set none @9600", "close"};
    QTest::newRow("parity dropped by the driver")
        << QString() << 0 << true << ENOTSUP
        << QStringList{"open", "get", "drain", "set even", "get", "set none @9600", "close"};
    QTest::newRow("modem lines") << "modem off" << EIO << false << EIO << kOpenSteps + kCloseSteps;
}

void TestComPortSequence::openFailures()
{
    QFETCH(QString, operation);
    QFETCH(int, error);
    QFETCH(bool, dropsParity);
    QFETCH(int, expectedError);
    QFETCH(QStringList, expectedLog);

    Fixture f;
    if (!operation.isEmpty())
        f.line->failure = failing(operation, -1, error);
    if (dropsParity)
        f.line->driverAdjusts = [](termios& t) { t.c_cflag &= ~PARENB; };
    QVERIFY(!f.port.open());
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(expectedError));
    QCOMPARE(f.port.lastError(), 0u);
    QVERIFY(!f.port.isOpen());
    QCOMPARE(f.line->log(), expectedLog);
}

void TestComPortSequence::closeRules_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("failingStep");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<int>("expectedError");
    QTest::addColumn<QStringList>("expectedLog");

    QTest::newRow("closed, not forced")
        << false << false << QString() << false << false << 0 << QStringList();
    QTest::newRow("closed, forced") << false << true << QString() << true << false << 0 << QStringList();
    QTest::newRow("open") << true << false << QString() << true << false << 0 << kCloseSteps;
    QTest::newRow("open, forced") << true << true << QString() << true << false << 0 << kCloseSteps;
    QTest::newRow("settings not put back")
        << true << false << "set none @9600" << false << true << EIO << QStringList{"set none @9600"};
    // Forced: the object counts as closed, and it lets go of the device as well.
    QTest::newRow("settings not put back, forced")
        << true << true << "set none @9600" << true << false << EIO << kCloseSteps;
    QTest::newRow("close fails") << true << false << "close" << false << true << EIO << kCloseSteps;
}

void TestComPortSequence::closeRules()
{
    QFETCH(bool, open);
    QFETCH(bool, force);
    QFETCH(QString, failingStep);
    QFETCH(bool, result);
    QFETCH(bool, openAfter);
    QFETCH(int, expectedError);
    QFETCH(QStringList, expectedLog);

    Fixture f;
    if (open)
        QVERIFY(f.port.open());
    f.line->clearLog();
    if (!failingStep.isEmpty())
        f.line->failure = failing(failingStep, -1, EIO);
    QCOMPARE(f.port.close(force), result);
    QCOMPARE(f.port.isOpen(), openAfter);
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(expectedError));
    QCOMPARE(f.line->log(), expectedLog);
}

void TestComPortSequence::pseudoTerminal()
{
    Fixture f;
    f.line->pseudoTerminal = true;
    // As the kernel does on a pty.
    f.line->driverAdjusts = [](termios& t) { t.c_cflag &= ~PARENB; };
    QVERIFY(f.port.open());
    QCOMPARE(f.line->log(), (QStringList{"open", "get", "drain", "set none", "get", "modem off"}));
    f.line->clearLog();
    QVERIFY(writeRequest(f.port, QByteArray::fromHex("038184")));
    QCOMPARE(f.line->log(), (QStringList{"write 03", "pause 20", "write 81", "write 84"}));
    f.line->clearLog();
    std::uint8_t buffer[32];
    std::uint32_t got = 0;
    QVERIFY(f.port.read(buffer, 32, got));
    QCOMPARE(f.line->log(), (QStringList{"read 32 within 120", "read done"}));
}

void TestComPortSequence::nothingToWrite()
{
    Fixture f;
    QVERIFY(f.port.open());
    f.line->clearLog();
    const std::uint8_t byte = 0x03;
    QVERIFY(!f.port.write(&byte, 0));
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(EINVAL));
    QVERIFY(f.line->log().isEmpty());
    QVERIFY(f.port.isOpen());
}

void TestComPortSequence::closedPort()
{
    Fixture f;
    const std::uint8_t request[3] = {0x03, 0x81, 0x84};
    QVERIFY(!f.port.write(request, 3));
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(EBADF));
    std::uint8_t buffer[32];
    std::uint32_t got = 7;
    QVERIFY(!f.port.read(buffer, 32, got));
    QCOMPARE(got, 0u);
    QCOMPARE(f.port.lastError(), static_cast<std::uint32_t>(EBADF));
    QVERIFY(f.line->log().isEmpty());
}

void TestComPortSequence::closeWaitsForRead()
{
    Fixture f;
    QVERIFY(f.port.open());
    f.line->clearLog();
    f.line->readDelayMs = 150;
    std::thread reader([&] {
        std::uint8_t buffer[32];
        std::uint32_t got = 0;
        f.port.read(buffer, 32, got);
    });
    QTRY_VERIFY_WITH_TIMEOUT(f.line->log().contains("read 32 within 120"), 2000);
    QVERIFY(f.port.close(false));
    reader.join();
    const QStringList log = f.line->log();
    QVERIFY2(log.indexOf("read done") < log.indexOf("set none @9600"), qPrintable(log.join(", ")));
}

QTEST_GUILESS_MAIN(TestComPortSequence)
#include "tst_com_port_sequence.moc"
