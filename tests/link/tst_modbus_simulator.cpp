// The Modbus side of the device simulator, seen through a real serial client: the register
// table, the requests a device refuses, every fault on the wire and the pacing of the bytes.
#include "link/ModbusMaster.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr double byteMs = 11.0 * 1000.0 / 19200.0;

const QByteArray stage0 = QByteArray::fromHex("01030003007D75EB");
const QByteArray stage1 = QByteArray::fromHex("01030080007D8403");
const QByteArray stage2 = QByteArray::fromHex("010300FD0009143C");

QByteArray withCrc(QByteArray frame)
{
    const uint16_t crc =
        modbusCrc16(reinterpret_cast<const uint8_t*>(frame.constData()), static_cast<uint16_t>(frame.size()));
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

bool crcHolds(const QByteArray& frame)
{
    return frame.size() >= 4 && withCrc(frame.left(frame.size() - 2)) == frame;
}

QByteArray readRequest(int slave, int start, int count)
{
    QByteArray frame;
    frame.append(static_cast<char>(slave));
    frame.append('\x03');
    frame.append(static_cast<char>(start >> 8));
    frame.append(static_cast<char>(start & 0xFF));
    frame.append(static_cast<char>(count >> 8));
    frame.append(static_cast<char>(count & 0xFF));
    return withCrc(frame);
}

int reg(const QByteArray& answer, int index)
{
    return (static_cast<uint8_t>(answer.at(3 + 2 * index)) << 8) |
           static_cast<uint8_t>(answer.at(4 + 2 * index));
}

struct SimulatedDevices
{
    QTemporaryDir dir;
    QProcess process;
    QString link() const { return dir.filePath("line"); }
    QString control() const { return dir.filePath("control"); }

    bool start(const QStringList& options)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("/usr/bin/python3", QStringList{ORVIK_SOURCE_DIR "/tools/orvik-sim", "--modbus",
                                                      "--link", link(), "--control", control()} +
                                              options);
        return process.waitForStarted(5000) && process.waitForReadyRead(10000) &&
               process.readLine().trimmed().startsWith("/dev/pts/");
    }
    void command(const QByteArray& line)
    {
        QFile fifo(control());
        if (fifo.open(QIODevice::WriteOnly))
            fifo.write(line + "\n");
        fifo.close();
        QTest::qWait(150);
    }
    ~SimulatedDevices()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

struct Exchange
{
    QByteArray bytes;
    double firstMs = -1; // from the request's write to the arrival of the first byte
    double lastMs = -1;
    double widestGapMs = 0; // between two arrivals
};

// The client side as the program's Modbus port is set: 19200 8E1. A pty drops the parity
// bit, which QSerialPort accepts only when it is set before open().
bool openClient(QSerialPort& port, const QString& path)
{
    port.setPortName(path);
    port.setBaudRate(19200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::EvenParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::ReadWrite);
}

// Sends the request and collects what comes back: until `expected` bytes are in and the line
// stays quiet a little longer, or until waitMs have passed.
Exchange exchange(QSerialPort& port, const QByteArray& request, int expected, int waitMs = 1000)
{
    port.clear(QSerialPort::Input);
    port.readAll();
    Exchange e;
    QElapsedTimer clock;
    clock.start();
    port.write(request);
    port.waitForBytesWritten(200);
    while (clock.elapsed() < waitMs) {
        const bool complete = expected > 0 && e.bytes.size() >= expected;
        const int wait = complete ? 80 : static_cast<int>(waitMs - clock.elapsed());
        if (!port.waitForReadyRead(qMax(1, wait))) {
            if (complete)
                break;
            continue;
        }
        const double now = clock.nsecsElapsed() / 1e6;
        if (e.firstMs < 0)
            e.firstMs = now;
        else
            e.widestGapMs = qMax(e.widestGapMs, now - e.lastMs);
        e.lastMs = now;
        e.bytes += port.readAll();
    }
    return e;
}
} // namespace

class TestModbusSimulator : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<QSerialPort::SerialPortError>(); }
    void turnReadsEveryChannel();
    void servedAddresses_data();
    void servedAddresses();
    void refusedRequests_data();
    void refusedRequests();
    void faults_data();
    void faults();
    void pacing_data();
    void pacing();
    void channelsOnDemand();
    void lineVanishesAndReturns_data();
    void lineVanishesAndReturns();
};

void TestModbusSimulator::turnReadsEveryChannel()
{
    SimulatedDevices sim;
    QVERIFY(
        sim.start({"--set", "1:0:1234:215", "--set", "1:127:1301:249", "--no-measurement", "1:5,124-126"}));
    QSerialPort port;
    QVERIFY2(openClient(port, sim.link()), qPrintable(port.errorString()));

    struct Stage
    {
        QByteArray request;
        uint16_t start, count;
    };
    const Stage stages[] = {{stage0, 3, 125}, {stage1, 128, 125}, {stage2, 253, 9}};
    QVector<int> table; // holding register 3 + i at entry i
    for (const Stage& s : stages) {
        // The program's own codec builds the same request and accepts the answer.
        ModbusMasterState state;
        modbusMasterInit(&state);
        QCOMPARE(modbusBuildReadRequest(&state, 3, 1, s.start, s.count), MbOk);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(state.request), state.requestLength), s.request);

        const Exchange e = exchange(port, s.request, 2 * s.count + 5);
        QCOMPARE(e.bytes.size(), 2 * s.count + 5);
        QVERIFY(crcHolds(e.bytes));
        QCOMPARE(e.bytes.left(3), QByteArray::fromHex("0103") + char(2 * s.count));
        state.answer = reinterpret_cast<const uint8_t*>(e.bytes.constData());
        state.answerLength = static_cast<uint8_t>(e.bytes.size());
        QCOMPARE(modbusParseAnswer(&state), MbOk);
        QCOMPARE(state.dataCount, s.count);
        for (int i = 0; i < s.count; ++i) {
            QCOMPARE(int(state.registers[i]), reg(e.bytes, i));
            table.append(state.registers[i]);
        }
    }
    QCOMPARE(table.size(), 259);
    for (int c = 0; c < 128; ++c) {
        const int u = table.at(c), t = table.at(128 + c);
        const QByteArray where =
            "channel " + QByteArray::number(c) + ": " + QByteArray::number(u) + "/" + QByteArray::number(t);
        if (c == 0) {
            QVERIFY2(u == 1234 && t == 215, where);
        } else if (c == 127) {
            QVERIFY2(u == 1301 && t == 249, where);
        } else if (c == 5 || (c >= 124 && c <= 126)) {
            QVERIFY2(u == 0 && t == 2550, where);
        } else {
            QVERIFY2(u >= 1190 && u <= 1360, where);
            QVERIFY2(t >= 195 && t <= 305, where);
        }
    }
}

void TestModbusSimulator::servedAddresses_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QList<int>>("answering");
    QTest::addColumn<QList<int>>("silent");
    QTest::newRow("default 1..6") << QStringList() << QList<int>{1, 2, 3, 4, 5, 6} << QList<int>{7, 0};
    QTest::newRow("2 and 9") << QStringList{"--addresses", "2,9"} << QList<int>{2, 9} << QList<int>{1, 3};
    QTest::newRow("247 alone") << QStringList{"--addresses", "247"} << QList<int>{247} << QList<int>{1};
}

void TestModbusSimulator::servedAddresses()
{
    QFETCH(QStringList, options);
    QFETCH(QList<int>, answering);
    QFETCH(QList<int>, silent);
    SimulatedDevices sim;
    QVERIFY(sim.start(options));
    QSerialPort port;
    QVERIFY(openClient(port, sim.link()));
    QSet<QByteArray> tables;
    for (int a : answering) {
        const Exchange e = exchange(port, readRequest(a, 253, 9), 23);
        QCOMPARE(e.bytes.size(), 23);
        QVERIFY(crcHolds(e.bytes));
        QCOMPARE(int(static_cast<uint8_t>(e.bytes.at(0))), a);
        QVERIFY(reg(e.bytes, 0) >= 195 && reg(e.bytes, 0) <= 305);
        tables.insert(e.bytes.mid(3, 12));
    }
    // Each device measures batteries of its own.
    QCOMPARE(tables.size(), answering.size());
    for (int a : silent)
        QCOMPARE(exchange(port, readRequest(a, 253, 9), 0, 500).bytes, QByteArray());
}

void TestModbusSimulator::refusedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("past the table") << readRequest(1, 253, 10) << withCrc(QByteArray::fromHex("018302"));
    QTest::newRow("126 registers") << readRequest(1, 3, 126) << withCrc(QByteArray::fromHex("018303"));
    QByteArray damaged = stage0;
    damaged[7] = char(damaged.at(7) ^ 1);
    QTest::newRow("request with a bad CRC") << damaged << QByteArray();
    QTest::newRow("broadcast") << readRequest(0, 3, 125) << QByteArray();
    QTest::newRow("request cut short") << stage0.left(6) << QByteArray();
}

void TestModbusSimulator::refusedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    SimulatedDevices sim;
    QVERIFY(sim.start({}));
    QSerialPort port;
    QVERIFY(openClient(port, sim.link()));
    QCOMPARE(exchange(port, request, answer.size(), 600).bytes.toHex(' '), answer.toHex(' '));
    // Whatever was left half-read is dropped: the next request is answered as usual.
    QTest::qWait(50);
    QCOMPARE(exchange(port, stage2, 23).bytes.size(), 23);
}

void TestModbusSimulator::faults_data()
{
    QTest::addColumn<QStringList>("options"); // the fault on address 1 at start
    QTest::addColumn<QByteArray>("command");  // the same fault sent at run time
    QTest::addColumn<int>("length");          // 0: nothing comes back
    QTest::addColumn<int>("lead");            // bytes before the frame
    QTest::addColumn<bool>("echoed");         // the lead is the request itself
    QTest::addColumn<bool>("crcGood");
    QTest::addColumn<QByteArray>("head");   // first three bytes of the frame
    QTest::addColumn<double>("minFirstMs"); // earliest arrival of the first byte
    QTest::addColumn<double>("minLastMs");
    QTest::addColumn<double>("minGapMs");

    const QByteArray data = QByteArray::fromHex("0103FA");
    const double first = 9 * byteMs;  // 8 request bytes in, one answer byte out
    const double last = 263 * byteMs; // and 254 more
    QTest::newRow("silent") << QStringList{"--silent", "1"} << QByteArray("silent 1") << 0 << 0 << false
                            << false << QByteArray() << 0.0 << 0.0 << 0.0;
    QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << QByteArray("bad-crc 1") << 255 << 0 << false
                             << false << data << first << last << 0.0;
    QTest::newRow("exception 6") << QStringList{"--exception", "1", "--exception-code", "6"}
                                 << QByteArray("exception 1 6") << 5 << 0 << false << true
                                 << QByteArray::fromHex("018306") << first << 13 * byteMs << 0.0;
    QTest::newRow("split in 3, 60 ms apart")
        << QStringList{"--split", "1", "--split-pieces", "3", "--split-gap", "60"}
        << QByteArray("split 1 3 60") << 255 << 0 << false << true << data << first << last + 120 << 30.0;
    QTest::newRow("slow, 1.2 ms a byte")
        << QStringList{"--slow", "1", "--slow-byte", "1.2"} << QByteArray("slow 1 1.2") << 255 << 0 << false
        << true << data << 8 * byteMs + 1.2 << 8 * byteMs + 255 * 1.2 << 0.0;
    QTest::newRow("late") << QStringList{"--late", "1"} << QByteArray("late 1 450") << 255 << 0 << false
                          << true << data << 450.0 << 450.0 + 255 * byteMs << 0.0;
    QTest::newRow("garbage before the frame")
        << QStringList{"--garbage", "1", "--garbage-bytes", "6"} << QByteArray("garbage 1 6") << 255 << 6
        << false << true << data << 0.0 << last + 6 * byteMs << 0.0;
    QTest::newRow("echo of the request") << QStringList{"--echo", "1"} << QByteArray("echo 1") << 255 << 8
                                         << true << true << data << byteMs << last << 0.0;
    QTest::newRow("wrong address") << QStringList{"--wrong-address", "1"} << QByteArray("wrong-address 1")
                                   << 255 << 0 << false << true << QByteArray::fromHex("0203FA") << first
                                   << last << 0.0;
    QTest::newRow("wrong function") << QStringList{"--wrong-function", "1"} << QByteArray("wrong-function 1")
                                    << 255 << 0 << false << true << QByteArray::fromHex("0104FA") << first
                                    << last << 0.0;
}

void TestModbusSimulator::faults()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, command);
    QFETCH(int, length);
    QFETCH(int, lead);
    QFETCH(bool, echoed);
    QFETCH(bool, crcGood);
    QFETCH(QByteArray, head);
    QFETCH(double, minFirstMs);
    QFETCH(double, minLastMs);
    QFETCH(double, minGapMs);

    const auto check = [&](const Exchange& e, const char* how) {
        const QByteArray what = QByteArray(how) + ": " + e.bytes.left(12).toHex(' ') + "... (" +
                                QByteArray::number(e.bytes.size()) + " bytes, first " +
                                QByteArray::number(e.firstMs) + " ms, last " + QByteArray::number(e.lastMs) +
                                " ms, widest gap " + QByteArray::number(e.widestGapMs) + " ms)";
        const QByteArray frame = e.bytes.mid(lead);
        bool ok = length == 0
                      ? e.bytes.isEmpty()
                      : (e.bytes.size() == lead + length && crcHolds(frame) == crcGood &&
                         frame.startsWith(head) && (!echoed || e.bytes.left(lead) == stage0) &&
                         e.firstMs >= minFirstMs && e.lastMs >= minLastMs && e.widestGapMs >= minGapMs);
        // A register answer with a damaged frame still carries readings.
        if (ok && length == 255)
            ok = reg(frame, 0) >= 1190 && reg(frame, 0) <= 1360;
        if (!ok)
            qWarning("%s", what.constData());
        return ok;
    };

    SimulatedDevices sim;
    QVERIFY(sim.start(options));
    QSerialPort port;
    QVERIFY(openClient(port, sim.link()));
    QVERIFY(check(exchange(port, stage0, lead + length), "given at start"));
    // The other devices answer as usual.
    const Exchange other = exchange(port, readRequest(2, 3, 125), 255);
    QCOMPARE(other.bytes.size(), 255);
    QVERIFY(crcHolds(other.bytes));

    sim.command("answer 1");
    const Exchange healed = exchange(port, stage0, 255);
    QCOMPARE(healed.bytes.size(), 255);
    QVERIFY(crcHolds(healed.bytes));

    sim.command(command);
    QVERIFY(check(exchange(port, stage0, lead + length), "sent at run time"));
}

void TestModbusSimulator::pacing_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("length");
    QTest::newRow("voltages, 255 bytes") << stage0 << 255;
    QTest::newRow("temperatures, 255 bytes") << stage1 << 255;
    QTest::newRow("the rest, 23 bytes") << stage2 << 23;
}

void TestModbusSimulator::pacing()
{
    QFETCH(QByteArray, request);
    QFETCH(int, length);
    SimulatedDevices sim;
    QVERIFY(sim.start({}));
    QSerialPort port;
    QVERIFY(openClient(port, sim.link()));
    const Exchange e = exchange(port, request, length);
    QCOMPARE(e.bytes.size(), length);
    // Request and answer take 11 bits a byte at 19200 baud; the last byte cannot come sooner.
    QVERIFY2(e.lastMs >= (8 + length) * byteMs, qPrintable(QString::number(e.lastMs)));
    if (length == 255)
        QVERIFY2(e.lastMs >= 140.0, qPrintable(QString::number(e.lastMs)));

    QSerialPort fast;
    SimulatedDevices unpaced;
    QVERIFY(unpaced.start({"--no-pacing"}));
    QVERIFY(openClient(fast, unpaced.link()));
    const Exchange quick = exchange(fast, request, length);
    QCOMPARE(quick.bytes.size(), length);
    QVERIFY2(quick.lastMs < e.lastMs, qPrintable(QString::number(quick.lastMs)));
}

void TestModbusSimulator::channelsOnDemand()
{
    SimulatedDevices sim;
    QVERIFY(sim.start({"--period", "0.05", "--drift-step", "0.3", "--drift-max", "1.5"}));
    QSerialPort port;
    QVERIFY(openClient(port, sim.link()));
    const auto voltages = [&] { return exchange(port, stage0, 255).bytes; };
    const auto temperatures = [&] { return exchange(port, stage1, 255).bytes; }; // channel c at 3 + c
    const QByteArray before = voltages();
    const QByteArray beforeT = temperatures();
    QCOMPARE(before.size(), 255);

    sim.command("set 1 3 1111 222");
    sim.command("no-measurement 1 7-9");
    sim.command("drift 1 10 volt");
    sim.command("drift 1 11 temp");
    QByteArray after = voltages();
    QByteArray afterT = temperatures();
    QCOMPARE(reg(after, 3), 1111);
    QCOMPARE(reg(afterT, 3 + 3), 222);
    for (int c = 7; c <= 9; ++c) {
        QCOMPARE(reg(after, c), 0);
        QCOMPARE(reg(afterT, 3 + c), 2550);
    }
    // Every measurement adds a step until the most.
    for (int i = 0; i < 8; ++i) {
        QTest::qWait(60);
        after = voltages();
        afterT = temperatures();
    }
    const int rise = reg(after, 10) - reg(before, 10);
    const int warmer = reg(afterT, 3 + 11) - reg(beforeT, 3 + 11);
    QVERIFY2(rise >= 140 && rise <= 160, qPrintable(QString::number(rise)));
    QVERIFY2(warmer >= 135 && warmer <= 165, qPrintable(QString::number(warmer)));
    QVERIFY(qAbs(reg(after, 12) - reg(before, 12)) < 10);

    sim.command("steady 1 3-11");
    after = voltages();
    afterT = temperatures();
    for (int c = 3; c <= 11; ++c) {
        QVERIFY2(reg(after, c) >= 1190 && reg(after, c) <= 1360, qPrintable(QString::number(c)));
        QVERIFY2(reg(afterT, 3 + c) >= 195 && reg(afterT, 3 + c) <= 305, qPrintable(QString::number(c)));
    }
}

void TestModbusSimulator::lineVanishesAndReturns_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("onCommand");
    QTest::newRow("on command") << QStringList() << true;
    QTest::newRow("timed") << QStringList{"--vanish-after", "1.5", "--return-after", "1"} << false;
}

void TestModbusSimulator::lineVanishesAndReturns()
{
    QFETCH(QStringList, options);
    QFETCH(bool, onCommand);
    SimulatedDevices sim;
    QVERIFY(sim.start(options));
    QSerialPort port;
    QVERIFY(openClient(port, sim.link()));
    QCOMPARE(exchange(port, stage2, 23).bytes.size(), 23);

    QSignalSpy errors(&port, &QSerialPort::errorOccurred);
    if (onCommand)
        sim.command("vanish");
    // As with an adapter pulled out, the line hangs up: reads come back empty (Qt reports a
    // read error) and the next write fails, which Qt reports as a resource error.
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 5000);
    port.write(stage2);
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains(QVariantList{QVariant::fromValue(QSerialPort::ResourceError)}),
                             2000);
    port.close();
    // The link goes with the line, so nobody follows it to a pty that takes the number next.
    QVERIFY(!QFileInfo(sim.link()).isSymLink());

    if (onCommand)
        sim.command("return");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(sim.link()).exists(), 5000);
    QVERIFY2(openClient(port, sim.link()), qPrintable(port.errorString()));
    const Exchange again = exchange(port, stage0, 255);
    QCOMPARE(again.bytes.size(), 255);
    QVERIFY(crcHolds(again.bytes));
}

QTEST_GUILESS_MAIN(TestModbusSimulator)
#include "tst_modbus_simulator.moc"
