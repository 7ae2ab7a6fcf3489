// The Modbus master's cycle on a virtual clock, against a scripted device whose faults have names.
#include "link/ModbusCycle.h"
#include "link/ModbusGroupReadings.h"

#include <QtTest>

namespace {
// Puts the device's answer on the line, in pieces by the ms they arrive. Register r reads r,
// but for channel 5 (registers 8 and 136: no measurement) and 6 (register 9: a dead battery).
void answer(QMultiMap<qint64, QByteArray>& line, qint64 now, const QByteArray& request, const QString& fault)
{
    const auto value = [](int r) { return r == 8 || r == 9 ? 0 : r == 136 ? 2550 : r; };
    const auto withCrc = [](QByteArray f) {
        const uint16_t crc = modbusCrc16(reinterpret_cast<const uint8_t*>(f.constData()), uint16_t(f.size()));
        return f.append(char(crc & 0xFF)).append(char(crc >> 8));
    };
    QByteArray frame = request.left(1).append(3).append(char(2 * request[5]));
    for (int r = uchar(request[3]); r < uchar(request[3]) + request[5]; ++r)
        frame.append(char(value(r) >> 8)).append(char(value(r) & 0xFF));
    frame = fault == "wrong slave" ? withCrc(frame.replace(0, 1, "\x02"))
            : fault == "exception" ? withCrc(QByteArray::fromHex("018302"))
            : fault == "bad CRC"   ? withCrc(frame + '\1').remove(frame.size(), 1) // the CRC of other bytes
            : fault == "echo"      ? request + withCrc(frame) // an RS-485 adapter hands the request back
                                   : withCrc(frame);
    const int cut = fault == "split" ? 3 : 0, delay = fault == "late" ? 450 : fault == "silent" ? 99999 : 10;
    line.insert(now + 5, frame.left(cut));
    line.insert(now + delay, frame.mid(cut));
}
} // namespace

class TestModbusCycle : public QObject
{
    Q_OBJECT
private slots:
    void turn_data()
    {
        // Named by the device's fault (" xN": in N answers): address, first channel, batteries | sends as
        // "ms>first register" (0: refused by the codec), the turn's end, "volts/degrees" ("-": no data).
        QTest::addColumn<QString>("row");
        const auto row = [](const char* fault, const char* row) { QTest::newRow(fault) << QString(row); };
        row("none", "1 0 2 | 0>3 11>128 22>253 33 done 1 at 1 0.03/13.1 0.04/13.2");
        row("none from channel 4", "7 4 3 | 0>3 11>128 22>253 33 done 1 at 7 0.07/13.5 - 0/13.7");
        row("none from channel 126", "1 126 4 | 0>3 11>128 22>253 33 done 1 at 1 1.29/25.7 1.3/25.8");
        row("split", "1 0 1 | 0>3 11>128 22>253 33 done 1 at 1 0.03/13.1");
        row("echo", "1 0 1 | 0>3 11>128 22>253 33 done 1 at 1 0.03/13.1");
        row("silent", "1 0 1 | 0>3 400>3 800>3 1200 silent 1 at 1");
        row("silent x2", "1 0 1 | 0>3 400>3 800>3 1660>128 1671>253 1682 done 1 at 1 0.03/13.1");
        row("late", "1 0 1 | 0>3 400>3 900>128 1300>128 1800>253 2200>253 2700 done 1 at 1 0.03/13.1");
        row("bad CRC", "1 0 1 | 0>3 1010>3 2020>3 3030 silent 1 at 1");
        row("bad CRC x1", "1 0 1 | 0>3 1010>3 1021>128 1032>253 1043 done 1 at 1 0.03/13.1");
        row("wrong slave", "1 0 1 | 0>3 400>3 800>3 1200 silent 1 at 1");
        row("exception", "1 0 1 | 0>3 400>3 800>3 1200 silent 1 at 1"); // too short to end the wait
        row("none at address 256", "256 0 1 | 0>0 400>0 800>0 1200 silent 1 at 256");
    }
    void turn()
    {
        QFETCH(QString, row);
        const QStringList setup = row.section(" | ", 0, 0).split(' ');          // address, first, count
        const QStringList fault = QString(QTest::currentDataTag()).split(" x"); // and in how many answers
        ModbusCycle cycle;
        cycle.start();
        QMultiMap<qint64, QByteArray> line; // on their way to the master, by the ms they arrive
        QStringList log;
        QVector<ModbusReading> readings;
        for (qint64 now = 0, timerAt = 0, answers = 0; now < 5000 && !log.join(' ').contains(" at "); ++now) {
            for (const QByteArray& bytes : line.values(now)) {
                const ModbusCycleStep step = cycle.bytesArrived(bytes);
                timerAt = step.waitMs < 0 ? timerAt : now + step.waitMs;
                if (step.kind == step.TableComplete)
                    readings = modbusGroupReadings(cycle.table(), setup[1].toInt(), setup[2].toInt());
            }
            if (now != timerAt)
                continue;
            const ModbusCycleStep step = cycle.timerFired(now, {{1, setup[0].toInt()}}, true);
            timerAt = now + step.waitMs;
            if (step.kind == step.Send)
                log << QString("%1>%2").arg(now).arg(step.request.isEmpty() ? 0 : uchar(step.request[3]));
            if (!step.request.isEmpty())
                answer(line, now, step.request, answers++ < fault.value(1, "99").toInt() ? fault[0] : "");
            if (step.kind == step.TurnDone || step.kind == step.DeviceSilent)
                log << QString::asprintf("%lld %s %d at %d", now,
                                         step.kind == step.TurnDone ? "done" : "silent", step.group,
                                         step.address);
        }
        for (const ModbusReading& r : readings)
            log << (r.measured ? QString("%1/%2").arg(r.volts).arg(r.degrees) : "-");
        QCOMPARE(log.join(' '), row.section(" | ", 1));
    }
};

QTEST_GUILESS_MAIN(TestModbusCycle)
#include "tst_modbus_cycle.moc"
