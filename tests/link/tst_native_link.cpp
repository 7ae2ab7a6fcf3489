// Native frames, and the port's line operations as recorded: a pty cannot show the ninth bit.
#include "AnswerFrame.h"
#include "link/ComPort.h"
#include "link/NativeFrame.h"

#include <QtTest>
#include <cerrno>
#include <cstring>

namespace {
// Logs each operation; settings by their parity, " inpck" when checked, " @9600" when not at 19200.
class RecordingLine : public SerialLine
{
public:
    QStringList log;
    QMap<QString, int> failures; // operation: the errno it always fails with
    tcflag_t droppedByDriver = 0;
    bool busy = false; // input keeps arriving until discarded
    termios current{CS7 | CREAD, 0, 0, ICANON | ECHO, 0, {}, B9600, B9600};

    int record(const QString& op) { return log.append(op), failures.value(op); }
    int open(const QByteArray&) override { return record("open"); }
    int close() override { return record("close"); }
    bool isPseudoTerminal() const override { return false; }
    int getAttributes(termios& t) override { return record("get") ?: (t = current, 0); }
    int setAttributes(const termios& t) override
    {
        const char* parity = !(t.c_cflag & PARENB)  ? "none"
                             : (t.c_cflag & CMSPAR) ? (t.c_cflag & PARODD ? "mark" : "space")
                                                    : "even";
        const int error = record(
            QString("set %1%2%3")
                .arg(parity, t.c_iflag & INPCK ? " inpck" : "", cfgetospeed(&t) == B19200 ? "" : " @9600"));
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
        received = busy ? count : 0;
        return record(QString("read %1 within %2").arg(count).arg(timeoutMs));
    }
    int discardInput() override { return busy = false, record("discard input"); }
    void pause(int ms) override { record(QString("pause %1").arg(ms)); }
};

struct Step
{
    QString actions, line; // line: the last action's failures ("op=ERRNO"), busy or ~CMSPAR
    bool result;
    int error, openAfter;
    QString log; // of the last action
};
} // namespace
Q_DECLARE_METATYPE(Step)

class TestNativeLink : public QObject
{
    Q_OBJECT
private slots:
    void answers_data()
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
        row("-25.5 C", 0, 2410, 51, 0x01, 0, 12.05, -25.5);
        row("sign of another channel", 1, 2410, 51, 0xFD, 0, 12.05, 25.5);
        row("divisor index 15", 7, 650, 1, 0x80, 15, 13.48501591, -0.5);
        row("index 16 divides by 1", 1, 1234, 20, 0, 16, 1234.0, 10.0);
        QByteArray frame = typicalAnswer(9);
        frame[31] = static_cast<char>(frame[31] + 1);
        QTest::newRow("bad checksum") << frame << QVector<double>();
        QTest::newRow("all zero: sum right, header not") << QByteArray(32, '\0') << QVector<double>();
    }
    void answers()
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
    void port_data()
    {
        QTest::addColumn<Step>("step");
        const QString open = "open, get, drain, set even, get, modem off", close = "set none @9600, close";
        const QString even = "drain, set even inpck, get, ",
                      mark = even + "drain, set mark inpck, get, write 03";
        const QString space = mark + ", pause 20, drain, set space inpck, get", w = "open;write 038184";
        const auto times = [](const QString& steps, int n) {
            return QStringList(QVector<QString>(n, steps).toList()).join(", ");
        };
        QTest::newRow("request: address byte with mark parity")
            << Step{w, "", true, 0, true, space + ", write 81, write 84"};
        QTest::newRow("driver drops CMSPAR")
            << Step{w, "~CMSPAR", false, ENOTSUP, true, even + times("drain, set mark inpck, get", 10)};
        QTest::newRow("address byte fails: reopened")
            << Step{w, "write 03=EIO", false, 0, true, mark + ", " + close + ", " + open};
        QTest::newRow("reopening fails") << Step{
            w, "write 81=EIO;open=ENOENT", false, EIO, false, space + ", write 81, " + close + ", open"};
        // Forced, the port counts as closed and lets go of the device as well.
        QTest::newRow("settings not put back, forced")
            << Step{"open;force", "set none @9600=EIO", true, EIO, false, close};
        QTest::newRow("discard on a busy line") << Step{
            "open;quiet", "busy", false, 0, true, times("read 256 within 15", 10) + ", discard input"};
    }
    void port()
    {
        QFETCH(Step, step);
        auto* line = new RecordingLine;
        ComPort port("ttyS4", 19200, std::unique_ptr<SerialLine>(line));
        line->droppedByDriver = step.line == "~CMSPAR" ? CMSPAR : 0;
        line->busy = step.line == "busy";
        const QMap<QString, int> errnos{{"EIO", EIO}, {"ENOENT", ENOENT}, {"EINVAL", EINVAL}};
        bool result = false;
        const QStringList actions = step.actions.split(';');
        for (const QString& action : actions) {
            line->log.clear();
            for (const QString& failure : step.line.split(';'))
                if (&action == &actions.last() && failure.contains('='))
                    line->failures[failure.section('=', 0, 0)] = errnos[failure.section('=', 1)];
            const QByteArray bytes = QByteArray::fromHex(action.mid(6).toLatin1());
            if (action == "quiet")
                port.discardUntilQuiet();
            result = action == "open"    ? port.open()
                     : action == "force" ? port.close(true)
                     : action.startsWith("write")
                         ? port.write(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      uint32_t(bytes.size()))
                         : false;
        }
        QCOMPARE(result, step.result);
        QCOMPARE(line->log.join(", "), step.log);
        QCOMPARE(port.lastError(), std::uint32_t(step.error));
        QCOMPARE(port.lastError(), 0u);
        QCOMPARE(int(port.isOpen()), step.openAfter);
    }
};

QTEST_GUILESS_MAIN(TestNativeLink)
#include "tst_native_link.moc"
