// Native frames, and the native port's exact line operations recorded through its line
// interface: a pseudo-terminal cannot show parity, so the ninth-bit sequence is checked here.
#include "AnswerFrame.h"
#include "link/ComPort.h"
#include "link/NativeFrame.h"

#include <QtTest>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {
// Logs each operation as a short text: settings by their parity, " inpck" when parity is
// checked, " @9600" when not at 19200 baud. Fails an operation as the row says.
class RecordingLine : public SerialLine
{
public:
    QMutex mutex;
    QStringList log;
    QMap<QString, int> calls;
    QMap<QString, QPair<int, int>> failures; // operation: calls that fail (-1: all), errno
    tcflag_t droppedByDriver = 0;
    bool pty = false;
    bool busy = false; // input keeps arriving until discarded
    int readDelayMs = 0;
    termios current{CS7 | CREAD, 0, 0, ICANON | ECHO, 0, {}, B9600, B9600};

    int record(const QString& operation)
    {
        QMutexLocker locker(&mutex);
        log.append(operation);
        const int n = ++calls[operation];
        const QPair<int, int> f = failures.value(operation);
        return f.first < 0 || n <= f.first ? f.second : 0;
    }
    int open(const QByteArray&) override { return record("open"); }
    int close() override { return record("close"); }
    bool isPseudoTerminal() const override { return pty; }
    int getAttributes(termios& t) override
    {
        const int error = record("get");
        t = error ? t : current;
        return error;
    }
    int setAttributes(const termios& t) override
    {
        const int error = record(QString("set %1%2%3")
                                     .arg(!(t.c_cflag & PARENB)  ? "none"
                                          : (t.c_cflag & CMSPAR) ? (t.c_cflag & PARODD ? "mark" : "space")
                                                                 : "even")
                                     .arg(t.c_iflag & INPCK ? " inpck" : "")
                                     .arg(cfgetospeed(&t) == B19200 ? "" : " @9600"));
        current = error ? current : t;
        current.c_cflag &= ~droppedByDriver;
        return error;
    }
    int setModemLinesOff() override { return record("modem off"); }
    int drain(int) override { return record("drain"); }
    int write(const std::uint8_t* data, std::size_t n, int) override
    {
        return record("write " + QByteArray(reinterpret_cast<const char*>(data), int(n)).toHex());
    }
    int read(std::uint8_t*, std::size_t count, int timeoutMs, std::size_t& received) override
    {
        const int error = record(QString("read %1 within %2").arg(count).arg(timeoutMs));
        QThread::msleep(static_cast<unsigned long>(readDelayMs));
        received = busy && !error ? count : 0;
        return error + record("read done");
    }
    int discardInput() override
    {
        busy = false;
        return record("discard input");
    }
    void pause(int ms) override { record(QString("pause %1").arg(ms)); }
};

bool act(ComPort& port, const QString& action)
{
    std::uint8_t buffer[32];
    std::uint32_t got = 0;
    const QByteArray bytes = QByteArray::fromHex(action.mid(6).toLatin1());
    if (action == "open" || action == "close" || action == "force")
        return action == "open" ? port.open() : port.close(action == "force");
    if (action == "discard" || action == "quiet") {
        action == "discard" ? port.discardInput() : port.discardUntilQuiet();
        return false;
    }
    return action == "read"
               ? port.read(buffer, 32, got)
               : port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()), uint32_t(bytes.size()));
}

QString times(const QString& steps, int n)
{
    return QStringList(QVector<QString>(n, steps).toList()).join(", ");
}
} // namespace

class TestNativeLink : public QObject
{
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void answers_data();
    void answers();
    void port_data();
    void port();
    void closeWaitsForRead();
};

void TestNativeLink::requests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("module"); // -1: not a request
    for (const char* bytes :
         {"038184 0", "078188 1", "3f81c0 15", "038185 -1 (bad sum)", "038083 -1 (command)",
          "048185 -1 (address bits clear)", "068187 -1 (one address bit)", "550a80 -1 (answer)"})
        QTest::newRow(bytes) << QByteArray::fromHex(QByteArray(bytes).left(6))
                             << QByteArray(bytes).split(' ')[1].toInt();
}

void TestNativeLink::requests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, module);
    QCOMPARE(NativeFrame::requestedModule(reinterpret_cast<const std::uint8_t*>(bytes.constData())), module);
    if (module >= 0)
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(NativeFrame::request(module).data()), 3), bytes);
}

void TestNativeLink::answers_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("channel"); // -1: the frame is refused
    QTest::addColumn<double>("volts");
    QTest::addColumn<double>("degrees");
    // Module 9; only the channel of the row reads anything.
    const auto row = [](const char* name, int channel, int raw, int half, int signs, int divisor,
                        double volts, double degrees) {
        const auto only = [=](int value) { return [=](int j) { return j == channel ? value : 0; }; };
        QTest::newRow(name) << answerFrame(9, only(raw), only(half), signs, divisor) << channel << volts
                            << degrees;
    };
    row("12.05 V, 25.5 C", 0, 2410, 51, 0, 0, 12.05, 25.5);
    row("-25.5 C", 0, 2410, 51, 0x01, 0, 12.05, -25.5);
    row("sign of another channel", 1, 2410, 51, 0xFD, 0, 12.05, 25.5);
    row("divisor index 6", 3, 4725, 0, 0, 6, 13.5, 0.0);
    row("divisor index 12", 5, 10500, 255, 0, 12, 12.5, 127.5);
    row("divisor index 15", 7, 650, 1, 0x80, 15, 13.48501591, -0.5);
    row("index 16 divides by 1", 1, 1234, 20, 0, 16, 1234.0, 10.0);
    row("index 2 divides by 1", 2, 65535, 20, 0, 2, 65535.0, 10.0);
    row("high byte", 6, 0x0100, 2, 0, 0, 1.28, 1.0);
    QByteArray frame = typicalAnswer(9);
    frame[31] = static_cast<char>(frame[31] + 1);
    QTest::newRow("bad checksum") << frame << -1 << 0.0 << 0.0;
    frame = typicalAnswer(9);
    frame[0] = static_cast<char>(0xAA);
    frame[31] = static_cast<char>(frame[31] + 0x55);
    QTest::newRow("header 0xAA, sum right") << frame << -1 << 0.0 << 0.0;
    QTest::newRow("all zero: sum right, header not") << QByteArray(32, '\0') << -1 << 0.0 << 0.0;
}

void TestNativeLink::answers()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, channel);
    QFETCH(double, volts);
    QFETCH(double, degrees);
    NativeFrame::Answer answer;
    std::memcpy(answer.data(), frame.constData(), answer.size());
    QCOMPARE(NativeFrame::isWellFormed(answer), channel >= 0);
    MsdData entry;
    entry.msd_number = 4;
    NativeFrame::decode(answer, entry);
    QVERIFY(!entry.valid && entry.msd_number == 4);
    for (int j = 0; channel >= 0 && j < 8; ++j) {
        QVERIFY2(qAbs(entry.channel[j].voltage - (j == channel ? volts : 0.0)) < 1e-6,
                 qPrintable(QString::number(j)));
        QCOMPARE(entry.channel[j].temperature, j == channel ? degrees : 0.0);
    }
}

void TestNativeLink::port_data()
{
    QTest::addColumn<QString>("before"); // actions whose steps are not part of the log
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<QString>("log");
    const auto row = [](const char* name, const char* before, const char* line, const char* action,
                        bool result, int error, bool openAfter, const QString& log) {
        QTest::newRow(name) << before << line << action << result << error << openAfter << log;
    };
    const QString open = "open, get, drain, set even, get, modem off";
    const QString close = "set none @9600, close";
    const QString even = "drain, set even inpck, get, ";
    const QString mark = even + "drain, set mark inpck, get, write 03";
    const QString space = mark + ", pause 20, drain, set space inpck, get";
    const QString request = space + ", write 81, write 84";
    row("open", "", "", "open", true, 0, true, open);
    row("open again", "open", "", "open", false, 0, true, "");
    row("request of module 0", "open", "", "write 038184", true, 0, true, request);
    row("read after a request", "open;write 038184", "", "read", true, 0, true,
        "drain, set space, get, read 32 within 120, read done");
    row("next request", "open;write 038184;read", "", "write 078188", true, 0, true,
        "drain, set space inpck, get, drain, set mark inpck, get, write 07, pause 20, drain, set space "
        "inpck, "
        "get, write 81, write 88");
    row("mark fails 3 times", "open", "set mark inpck*3=EIO", "write 038184", true, 0, true,
        even + times("drain, set mark inpck", 3) + ", " + request.mid(even.size()));
    row("mark fails 9 times, the 10th holds", "open", "set mark inpck*9=EIO", "write 038184", true, 0, true,
        even + times("drain, set mark inpck", 9) + ", " + request.mid(even.size()));
    row("mark never holds", "open", "set mark inpck=EIO", "write 038184", false, EIO, true,
        even + times("drain, set mark inpck", 10));
    row("driver drops CMSPAR", "open", "~CMSPAR", "write 038184", false, ENOTSUP, true,
        even + times("drain, set mark inpck, get", 10));
    row("read-back fails", "open", "get=EIO", "write 038184", false, EIO, true, even.chopped(2));
    row("space never holds", "open", "set space inpck=EIO", "write 038184", false, EIO, true,
        mark + ", pause 20, " + times("drain, set space inpck", 10));
    row("parity checking refused", "open", "set even inpck=EIO", "write 038184", false, EIO, true,
        "drain, set even inpck");
    row("line never drains", "open", "drain=ETIMEDOUT", "write 038184", false, ETIMEDOUT, true, "drain");
    row("address byte fails: reopened", "open", "write 03=EIO", "write 038184", false, 0, true,
        mark + ", " + close + ", " + open);
    row("second byte fails: reopened", "open", "write 81=EIO", "write 038184", false, 0, true,
        space + ", write 81, " + close + ", " + open);
    row("reopening fails", "open", "write 81=EIO;open=ENOENT", "write 038184", false, EIO, false,
        space + ", write 81, " + close + ", open");
    row("settings not put back after a failed byte", "open", "write 81=EIO;set none @9600=EPERM",
        "write 038184", false, EIO, true, space + ", write 81, set none @9600");
    row("closing fails after a failed byte", "open", "write 03=EIO;close=EBADF", "write 038184", false, EIO,
        true, mark + ", " + close);
    row("no such device", "", "open=ENOENT", "open", false, ENOENT, false, "open");
    row("settings unreadable", "", "get=EIO", "open", false, EIO, false, "open, get, close");
    row("settings refused", "", "set even=EINVAL", "open", false, EINVAL, false,
        "open, get, drain, set even, " + close);
    row("driver drops parity", "", "~PARENB", "open", false, ENOTSUP, false,
        "open, get, drain, set even, get, " + close);
    row("modem lines", "", "modem off=EIO", "open", false, EIO, false, open + ", " + close);
    row("close a closed port", "", "", "close", false, 0, false, "");
    row("force a closed port", "", "", "force", true, 0, false, "");
    row("close", "open", "", "close", true, 0, false, close);
    row("force", "open", "", "force", true, 0, false, close);
    row("settings not put back", "open", "set none @9600=EIO", "close", false, EIO, true, "set none @9600");
    // Forced, the port counts as closed and lets go of the device as well.
    row("settings not put back, forced", "open", "set none @9600=EIO", "force", true, EIO, false, close);
    row("close fails", "open", "close=EIO", "close", false, EIO, true, close);
    row("pty: open", "", "pty;~PARENB", "open", true, 0, true, "open, get, drain, set none, get, modem off");
    row("pty: request", "open", "pty;~PARENB", "write 038184", true, 0, true,
        "write 03, pause 20, write 81, write 84");
    row("pty: read", "open;write 038184", "pty;~PARENB", "read", true, 0, true,
        "read 32 within 120, read done");
    row("nothing to write", "open", "", "write ", false, EINVAL, true, "");
    row("write to a closed port", "", "", "write 038184", false, EBADF, false, "");
    row("read from a closed port", "", "", "read", false, EBADF, false, "");
    row("discard", "open", "", "discard", false, 0, true, "discard input");
    row("discard on a quiet line", "open", "", "quiet", false, 0, true,
        "read 256 within 15, read done, discard input");
    row("discard on a busy line", "open", "busy", "quiet", false, 0, true,
        times("read 256 within 15, read done", 10) + ", discard input");
    row("discard on a closed port", "", "busy", "quiet", false, 0, false, "");
}

void TestNativeLink::port()
{
    QFETCH(QString, before);
    QFETCH(QString, line);
    QFETCH(QString, action);
    QFETCH(bool, result);
    QFETCH(int, error);
    QFETCH(bool, openAfter);
    QFETCH(QString, log);
    auto* recording = new RecordingLine;
    ComPort port("ttyS4", 19200, std::unique_ptr<SerialLine>(recording));
    recording->pty = line.contains("pty");
    recording->droppedByDriver = line.contains("~PARENB") ? PARENB : line.contains("~CMSPAR") ? CMSPAR : 0;
    for (const QString& step : before.split(';', Qt::SkipEmptyParts))
        QVERIFY(act(port, step));
    recording->log.clear();
    recording->calls.clear();
    recording->busy = line.contains("busy");
    const QMap<QString, int> errnos{{"EIO", EIO},     {"ENOENT", ENOENT}, {"EPERM", EPERM},
                                    {"EBADF", EBADF}, {"EINVAL", EINVAL}, {"ETIMEDOUT", ETIMEDOUT}};
    for (const QString& failure : line.split(';')) {
        const QStringList parts = failure.split(QRegularExpression("[*=]"));
        if (failure.contains('='))
            recording->failures[parts.first()] = {parts.size() > 2 ? parts[1].toInt() : -1,
                                                  errnos[parts.last()]};
    }
    QCOMPARE(act(port, action), result);
    QCOMPARE(recording->log.join(", "), log);
    QCOMPARE(port.lastError(), static_cast<std::uint32_t>(error));
    QCOMPARE(port.lastError(), 0u);
    QCOMPARE(port.isOpen(), openAfter);
}

void TestNativeLink::closeWaitsForRead()
{
    auto* recording = new RecordingLine;
    ComPort port("ttyS4", 19200, std::unique_ptr<SerialLine>(recording));
    QVERIFY(port.open());
    recording->readDelayMs = 150;
    std::thread reader([&] { act(port, "read"); });
    const auto reading = [&] {
        QMutexLocker locker(&recording->mutex);
        return recording->log.contains("read 32 within 120");
    };
    QTRY_VERIFY_WITH_TIMEOUT(reading(), 2000);
    QVERIFY(port.close(false));
    reader.join();
    QVERIFY(recording->log.indexOf("read done") < recording->log.indexOf("set none @9600"));
}

QTEST_GUILESS_MAIN(TestNativeLink)
#include "tst_native_link.moc"
