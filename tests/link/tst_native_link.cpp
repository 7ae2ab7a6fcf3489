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

// Runs the actions in turn; only the last one's steps are logged, and fail as the line says.
bool act(ComPort& port, RecordingLine* line, const QString& actions, const QString& failures = QString())
{
    const QMap<QString, int> errnos{
        {"EIO", EIO}, {"ENOENT", ENOENT}, {"EPERM", EPERM}, {"EINVAL", EINVAL}, {"ETIMEDOUT", ETIMEDOUT}};
    bool result = false;
    const QStringList list = actions.split(';');
    for (const QString& action : list) {
        line->log.clear();
        line->calls.clear();
        for (const QString& failure : failures.split(';', Qt::SkipEmptyParts)) {
            const QStringList parts = failure.split(QRegularExpression("[*=]"));
            if (&action == &list.last())
                line->failures[parts.first()] = {parts.size() > 2 ? parts[1].toInt() : -1,
                                                 errnos[parts.last()]};
        }
        std::uint8_t buffer[32];
        std::uint32_t got = 0;
        const QByteArray bytes = QByteArray::fromHex(action.mid(6).toLatin1());
        if (action == "discard" || action == "quiet")
            action == "discard" ? port.discardInput() : port.discardUntilQuiet();
        result =
            action == "open"                         ? port.open()
            : action == "close" || action == "force" ? port.close(action == "force")
            : action == "read"                       ? port.read(buffer, 32, got)
            : action.startsWith("write")
                ? port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()), uint32_t(bytes.size()))
                : false;
    }
    return result;
}

QString times(const QString& steps, int n)
{
    return QStringList(QVector<QString>(n, steps).toList()).join(", ");
}

struct Step
{
    QString actions, line; // line: operation=errno fails always, operation*n=errno the first n times
    bool result;
    int error;
    bool openAfter;
    QString log;
};
} // namespace
Q_DECLARE_METATYPE(Step)

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
    for (const char* row :
         {"038184 0", "078188 1", "3f81c0 15", "038185 -1 (bad sum)", "038083 -1 (command)",
          "048185 -1 (address bits clear)", "068187 -1 (one address bit)", "550a80 -1 (answer)"})
        QTest::newRow(row) << QByteArray::fromHex(QByteArray(row).left(6))
                           << QByteArray(row).split(' ')[1].toInt();
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
    QTest::addColumn<QVector<double>>("reading"); // channel, volts, degrees; none: the frame is refused
    // Module 9; only the channel of the row reads anything.
    const auto row = [](const char* name, int channel, int raw, int half, int signs, int divisor,
                        double volts, double degrees) {
        const auto only = [=](int value) { return [=](int j) { return j == channel ? value : 0; }; };
        QTest::newRow(name) << answerFrame(9, only(raw), only(half), signs, divisor)
                            << QVector<double>{double(channel), volts, degrees};
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
    QTest::newRow("bad checksum") << frame << QVector<double>();
    frame[0] = static_cast<char>(0xAA);
    frame[31] = static_cast<char>(frame[31] + 0x54);
    QTest::newRow("header 0xAA, sum right") << frame << QVector<double>();
    QTest::newRow("all zero: sum right, header not") << QByteArray(32, '\0') << QVector<double>();
}

void TestNativeLink::answers()
{
    QFETCH(QByteArray, frame);
    QFETCH(QVector<double>, reading);
    NativeFrame::Answer answer;
    std::memcpy(answer.data(), frame.constData(), answer.size());
    QCOMPARE(NativeFrame::isWellFormed(answer), !reading.isEmpty());
    MsdData entry;
    entry.msd_number = 4;
    NativeFrame::decode(answer, entry);
    QVERIFY(!entry.valid && entry.msd_number == 4);
    for (int j = 0; !reading.isEmpty() && j < 8; ++j) {
        const bool read = j == int(reading[0]);
        QVERIFY2(qAbs(entry.channel[j].voltage - (read ? reading[1] : 0.0)) < 1e-6,
                 qPrintable(QString::number(j)));
        QCOMPARE(entry.channel[j].temperature, read ? reading[2] : 0.0);
    }
}

void TestNativeLink::port_data()
{
    QTest::addColumn<Step>("step");
    const QString open = "open, get, drain, set even, get, modem off", close = "set none @9600, close";
    const QString even = "drain, set even inpck, get, ", mark = even + "drain, set mark inpck, get, write 03";
    const QString space = mark + ", pause 20, drain, set space inpck, get",
                  request = space + ", write 81, write 84";
    const QString w = "open;write 038184";
    QTest::newRow("open") << Step{"open", "", true, 0, true, open};
    QTest::newRow("open again") << Step{"open;open", "", false, 0, true, ""};
    QTest::newRow("request of module 0") << Step{w, "", true, 0, true, request};
    QTest::newRow("read after a request")
        << Step{w + ";read", "", true, 0, true, "drain, set space, get, read 32 within 120, read done"};
    QTest::newRow("next request") << Step{
        w + ";read;write 078188",
        "",
        true,
        0,
        true,
        "drain, set space inpck, get, drain, set mark inpck, get, write 07, "
        "pause 20, drain, set space inpck, get, write 81, write 88"};
    QTest::newRow("mark fails 9 times, the 10th holds")
        << Step{w,    "set mark inpck*9=EIO",
                true, 0,
                true, even + times("drain, set mark inpck", 9) + ", " + request.mid(even.size())};
    QTest::newRow("mark never holds")
        << Step{w, "set mark inpck=EIO", false, EIO, true, even + times("drain, set mark inpck", 10)};
    QTest::newRow("driver drops CMSPAR")
        << Step{w, "~CMSPAR", false, ENOTSUP, true, even + times("drain, set mark inpck, get", 10)};
    QTest::newRow("read-back fails") << Step{w, "get=EIO", false, EIO, true, even.chopped(2)};
    QTest::newRow("space never holds")
        << Step{w,     "set space inpck=EIO",
                false, EIO,
                true,  mark + ", pause 20, " + times("drain, set space inpck", 10)};
    QTest::newRow("parity checking refused")
        << Step{w, "set even inpck=EIO", false, EIO, true, "drain, set even inpck"};
    QTest::newRow("line never drains") << Step{w, "drain=ETIMEDOUT", false, ETIMEDOUT, true, "drain"};
    QTest::newRow("address byte fails: reopened")
        << Step{w, "write 03=EIO", false, 0, true, mark + ", " + close + ", " + open};
    QTest::newRow("second byte fails: reopened")
        << Step{w, "write 81=EIO", false, 0, true, space + ", write 81, " + close + ", " + open};
    QTest::newRow("reopening fails") << Step{
        w, "write 81=EIO;open=ENOENT", false, EIO, false, space + ", write 81, " + close + ", open"};
    QTest::newRow("settings not put back after a failed byte") << Step{
        w, "write 81=EIO;set none @9600=EPERM", false, EIO, true, space + ", write 81, set none @9600"};
    QTest::newRow("no such device") << Step{"open", "open=ENOENT", false, ENOENT, false, "open"};
    QTest::newRow("settings unreadable") << Step{"open", "get=EIO", false, EIO, false, "open, get, close"};
    QTest::newRow("settings refused")
        << Step{"open", "set even=EINVAL", false, EINVAL, false, "open, get, drain, set even, " + close};
    QTest::newRow("driver drops parity")
        << Step{"open", "~PARENB", false, ENOTSUP, false, "open, get, drain, set even, get, " + close};
    QTest::newRow("modem lines") << Step{"open", "modem off=EIO", false, EIO, false, open + ", " + close};
    QTest::newRow("close a closed port") << Step{"close", "", false, 0, false, ""};
    QTest::newRow("force a closed port") << Step{"force", "", true, 0, false, ""};
    QTest::newRow("close") << Step{"open;close", "", true, 0, false, close};
    QTest::newRow("force") << Step{"open;force", "", true, 0, false, close};
    QTest::newRow("settings not put back")
        << Step{"open;close", "set none @9600=EIO", false, EIO, true, "set none @9600"};
    // Forced, the port counts as closed and lets go of the device as well.
    QTest::newRow("settings not put back, forced")
        << Step{"open;force", "set none @9600=EIO", true, EIO, false, close};
    QTest::newRow("close fails") << Step{"open;close", "close=EIO", false, EIO, true, close};
    QTest::newRow("pty: open") << Step{"open", "pty", true,
                                       0,      true,  "open, get, drain, set none, get, modem off"};
    QTest::newRow("pty: request") << Step{w, "pty", true, 0, true, "write 03, pause 20, write 81, write 84"};
    QTest::newRow("nothing to write") << Step{"open;write ", "", false, EINVAL, true, ""};
    QTest::newRow("write to a closed port") << Step{"write 038184", "", false, EBADF, false, ""};
    QTest::newRow("read from a closed port") << Step{"read", "", false, EBADF, false, ""};
    QTest::newRow("discard") << Step{"open;discard", "", false, 0, true, "discard input"};
    QTest::newRow("discard on a quiet line")
        << Step{"open;quiet", "", false, 0, true, "read 256 within 15, read done, discard input"};
    QTest::newRow("discard on a busy line") << Step{
        "open;quiet", "busy", false, 0, true, times("read 256 within 15, read done", 10) + ", discard input"};
}

void TestNativeLink::port()
{
    QFETCH(Step, step);
    auto* line = new RecordingLine;
    ComPort port("ttyS4", 19200, std::unique_ptr<SerialLine>(line));
    // As the kernel does on a pty, where nothing about parity is sent or held.
    line->pty = step.line.contains("pty");
    line->droppedByDriver = line->pty || step.line.contains("~PARENB") ? PARENB
                            : step.line.contains("~CMSPAR")            ? CMSPAR
                                                                       : 0;
    line->busy = step.line.contains("busy");
    QCOMPARE(act(port, line, step.actions, step.line.contains('=') ? step.line : QString()), step.result);
    QCOMPARE(line->log.join(", "), step.log);
    QCOMPARE(port.lastError(), std::uint32_t(step.error));
    QCOMPARE(port.lastError(), 0u);
    QCOMPARE(port.isOpen(), step.openAfter);
}

void TestNativeLink::closeWaitsForRead()
{
    auto* line = new RecordingLine;
    ComPort port("ttyS4", 19200, std::unique_ptr<SerialLine>(line));
    QVERIFY(port.open());
    line->readDelayMs = 150;
    std::uint8_t buffer[32];
    std::uint32_t got = 0;
    std::thread reader([&] { port.read(buffer, 32, got); });
    const auto reading = [&] {
        QMutexLocker locker(&line->mutex);
        return line->log.contains("read 32 within 120");
    };
    QTRY_VERIFY_WITH_TIMEOUT(reading(), 2000);
    QVERIFY(port.close(false));
    reader.join();
    QVERIFY(line->log.indexOf("read done") < line->log.indexOf("set none @9600"));
}

QTEST_GUILESS_MAIN(TestNativeLink)
#include "tst_native_link.moc"
