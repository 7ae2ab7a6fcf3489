// The Modbus exchange of the main window against the project's device simulator (pymodbus
// slaves behind a layer that paces bytes like the wire and injects faults) on a pty.
#include "ModbusSimulator.h"
#include "ModbusWindowFixture.h"

#include "config/BatteryListWidgetItem.h"
#include "config/GroupsSettingsWindow.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(QList<GroupLayout>)

namespace {
const QString kOk = QStringLiteral("обмен по modbus: ок");
const QString kNoGroups = QStringLiteral("Нет групп с батареями для опроса по Modbus");

QString silentText(const QString& addresses, const QString& groups)
{
    return QStringLiteral("Нет ответа от modbus: адрес {%1} / группа {%2}").arg(addresses, groups);
}

// "12,34 B|21,5 °C|1/1" for a battery with data, "-" for one without.
QString tileText(const ModbusWindowFixture& f, int id)
{
    if (f.battery(id)->hasNoData())
        return QStringLiteral("-");
    const MKPWidget* tile = f.tile(id);
    return tile->voltageLabel()->text() + '|' + tile->temperatureLabel()->text() + '|' +
           tile->addressLabel()->text();
}

// "battery=text;…": which of them differ, empty when none does.
QString mismatches(const ModbusWindowFixture& f, const QString& expected)
{
    QStringList wrong;
    for (const QString& token : expected.split(';')) {
        const int id = token.section('=', 0, 0).toInt();
        const QString seen = tileText(f, id);
        if (seen != token.section('=', 1))
            wrong << QString("%1=%2").arg(id).arg(seen);
    }
    return wrong.join(';');
}

// When each request left the monitor, in ms since the exchange started.
struct SendLog
{
    explicit SendLog(const ModbusWindowFixture& f)
    {
        clock.start();
        QObject::connect(f->modbusPort(), &QSerialPort::bytesWritten,
                         [this](qint64) { times << clock.elapsed(); });
    }
    // For the message of a failed check: what the tiles and the status bar say, and when
    // the requests went out.
    const char* describe(const ModbusWindowFixture& f)
    {
        QStringList lines{QStringLiteral("status: ") + f.status()};
        for (int id = 0; id < 16; ++id)
            lines << QString("battery %1: %2").arg(id).arg(tileText(f, id));
        QStringList at;
        for (qint64 t : times)
            at << QString::number(t);
        lines << QStringLiteral("sent at ms: ") + at.join(' ');
        text = lines.join('\n').toUtf8();
        return text.constData();
    }
    QElapsedTimer clock;
    QList<qint64> times;
    QByteArray text;
};

QStringList words(const QString& text)
{
    return text.split(' ', Qt::SkipEmptyParts);
}
} // namespace

class TestModbusScenarios : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readings_data();
    void readings();
    void faults_data();
    void faults();
    void silentAfterFirstStageThenHealthy();
    void groupsAppliedDuringExchange();
    void lineVanishes();
};

void TestModbusScenarios::initTestCase()
{
    if (!QFile::exists(QStringLiteral(ORVIK_SOURCE_DIR "/tools/orvik_sim_modbus.py")))
        QSKIP("the Modbus simulator (tools/orvik-sim --modbus) is not there");
}

void TestModbusScenarios::readings_data()
{
    QTest::addColumn<QString>("simulator");
    QTest::addColumn<QList<GroupLayout>>("layout");
    QTest::addColumn<QString>("expected");

    QTest::newRow("1234 and 215") << "--addresses 1 --set 1:0:1234:215" << QList<GroupLayout>{{1, 0, 8, 1, 0}}
                                  << "0=12,34 B|21,5 °C|1/1";
    QTest::newRow("first sensor 120 takes 8 batteries")
        << "--addresses 4 --set 4:120:1300:250 --set 4:127:1277:301" << QList<GroupLayout>{{1, 0, 16, 4, 120}}
        << "0=13,00 B|25,0 °C|1/1;7=12,77 B|30,1 °C|1/8;8=-;15=-";
    QTest::newRow("no measurement") << "--addresses 1 --no-measurement 1:3 --set 1:4:1250:250"
                                    << QList<GroupLayout>{{1, 0, 8, 1, 0}} << "3=-;4=12,50 B|25,0 °C|1/5";
    QTest::newRow("groups 1 and 3") << "--addresses 11,33 --set 11:0:1111:111 --set 33:0:1333:333"
                                    << QList<GroupLayout>{{1, 0, 8, 11, 0}, {3, 16, 8, 33, 0}}
                                    << "0=11,11 B|11,1 °C|1/1;16=13,33 B|33,3 °C|3/1;8=--,-- B|--,- °C|-/-";
    QTest::newRow("six groups, first sensors apart")
        << "--addresses 1-6 --set 6:40:1190:290"
        << QList<GroupLayout>{{1, 0, 8, 1, 0},   {2, 8, 8, 2, 8},   {3, 16, 8, 3, 16},
                              {4, 24, 8, 4, 24}, {5, 32, 8, 5, 32}, {6, 40, 8, 6, 40}}
        << "40=11,90 B|29,0 °C|6/1";
}

void TestModbusScenarios::readings()
{
    QFETCH(QString, simulator);
    QFETCH(QList<GroupLayout>, layout);
    QFETCH(QString, expected);

    ModbusSimulator sim(words(simulator));
    QVERIFY(sim.isReady());
    ModbusWindowFixture f(sim.path(), layout);
    SendLog sends(f);
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return mismatches(f, expected).isEmpty(); }, 16000), sends.describe(f));
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), sends.describe(f));
    QCOMPARE(f.statusStyle(), QString("color: green"));
    f->stopModbus();
}

void TestModbusScenarios::faults_data()
{
    // A standing fault of device 1; its first two sends lie `minGap`..`maxGap` ms apart.
    // Where the device cannot be read it is reported silent; once the fault is lifted the
    // bar turns green again.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("minGap");
    QTest::addColumn<int>("maxGap");

    QTest::newRow("split answers") << "--split 1" << true << 140 << 420;
    QTest::newRow("byte by byte, 1 ms a byte") << "--slow 1 --slow-byte 1" << true << 250 << 420;
    QTest::newRow("echo of the request") << "--echo 1" << true << 140 << 420;
    QTest::newRow("late answers") << "--late 1" << true << 380 << 1000;
    QTest::newRow("exception answers, sent again after the time-out")
        << "--exception 1" << false << 380 << 1000;
    QTest::newRow("bad CRC, rejected") << "--bad-crc 1" << false << 1100 << 2500;
    QTest::newRow("garbage before the frame, skipped") << "--garbage 1" << true << 140 << 420;
    QTest::newRow("wrong slave address, not the answer") << "--wrong-address 1" << false << 380 << 1000;
    QTest::newRow("silent device") << "--silent 1" << false << 380 << 1000;
}

void TestModbusScenarios::faults()
{
    QFETCH(QString, fault);
    QFETCH(bool, readable);
    QFETCH(int, minGap);
    QFETCH(int, maxGap);

    ModbusSimulator sim(words("--addresses 1 --set 1:0:1234:215 --set 1:7:1301:199 " + fault));
    QVERIFY(sim.isReady());
    ModbusWindowFixture f(sim.path(), {{1, 0, 8, 1, 0}});
    SendLog sends(f);
    QVERIFY(f->startModbus());
    if (readable) {
        QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 16000), sends.describe(f));
        QCOMPARE(mismatches(f, "0=12,34 B|21,5 °C|1/1;7=13,01 B|19,9 °C|1/8"), QString());
    } else {
        QVERIFY2(f.waitUntil([&] { return f.status() == silentText("1 ", "1 "); }, 16000), sends.describe(f));
        QCOMPARE(f.statusStyle(), QString("color: red"));
        QCOMPARE(tileText(f, 0), QString("-"));
        QVERIFY(sim.command("answer 1"));
        QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 10000), sends.describe(f));
        QCOMPARE(f.statusStyle(), QString("color: green"));
        QCOMPARE(mismatches(f, "0=12,34 B|21,5 °C|1/1;7=13,01 B|19,9 °C|1/8"), QString());
    }
    QVERIFY(sends.times.size() >= 2);
    const qint64 gap = sends.times[1] - sends.times[0];
    QVERIFY2(gap >= minGap && gap <= maxGap, qPrintable(QString::number(gap)));
    f->stopModbus();
}

void TestModbusScenarios::silentAfterFirstStageThenHealthy()
{
    // Device 1 answers its first request, then falls silent; device 2's table must still be
    // stored from its first register on (its temperatures from the temperature registers).
    ModbusSimulator sim(words("--addresses 1,2 --set 2:0:1200:215 --set 2:1:1201:216"));
    QVERIFY(sim.isReady());
    ModbusWindowFixture f(sim.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    SendLog sends(f);
    // Once the first request is on its way and its answer queued, device 1 goes silent.
    QObject::connect(f->modbusPort(), &QSerialPort::bytesWritten, [&] {
        if (sends.times.size() == 1)
            QTimer::singleShot(60, [&] { sim.command("silent 1"); });
    });
    QVERIFY(f->startModbus());
    // Judged on device 2's first turn.
    QVERIFY2(f.waitUntil([&] { return f.battery(8)->state() != 0; }, 16000), sends.describe(f));
    QCOMPARE(mismatches(f, "8=12,00 B|21,5 °C|2/1;9=12,01 B|21,6 °C|2/2"), QString());
    QCOMPARE(f.status(), silentText("1 ", "1 "));
    QVERIFY(f.battery(0)->hasNoData());
    f->stopModbus();
}

void TestModbusScenarios::groupsAppliedDuringExchange()
{
    ModbusSimulator sim(words("--addresses 1,2 --set 2:0:1222:222"));
    QVERIFY(sim.isReady());
    ModbusWindowFixture f(sim.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    SendLog sends(f);
    GroupsSettingsWindow* page = f->settingsPage();
    auto list = [page](const char* name) { return page->findChild<QListWidget*>(name); };
    auto apply = [page] { page->findChild<QPushButton*>("pushButton_apply")->click(); };

    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), sends.describe(f));

    // Emptied while running: the exchange pauses and says why.
    page->moveAll(list("listWidget_group1"));
    page->moveAll(list("listWidget_group2"));
    apply();
    QVERIFY2(f.waitUntil([&] { return f.status() == kNoGroups; }, 8000), sends.describe(f));
    QCOMPARE(f.statusStyle(), QString("color: red"));
    QTest::qWait(200);
    const int sent = sends.times.size();
    QTest::qWait(1000);
    QCOMPARE(sends.times.size(), sent);
    QVERIFY(f->isModbusRunning());

    // Refilled: group 2 alone, batteries 0..3, is asked again.
    QListWidget* channels = list("listWidget_channels");
    for (int i = 0; i < channels->count(); ++i) {
        auto* item = static_cast<BatteryListWidgetItem*>(channels->item(i));
        item->setSelected(item->batteryId() < 4);
    }
    page->findChild<QPushButton*>("pbInGroup2")->click();
    apply();
    QVERIFY2(f.waitUntil([&] { return mismatches(f, "0=12,22 B|22,2 °C|2/1").isEmpty(); }, 8000),
             sends.describe(f));
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), sends.describe(f));
    f->stopModbus();
}

void TestModbusScenarios::lineVanishes()
{
    ModbusSimulator sim(words("--addresses 1"));
    QVERIFY(sim.isReady());
    ModbusWindowFixture f(sim.path(), {{1, 0, 8, 1, 0}});
    SendLog sends(f);
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), sends.describe(f));
    QVERIFY(sim.command("vanish"));
    QVERIFY2(
        f.waitUntil([&] { return f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved); }, 8000),
        sends.describe(f));
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved);
    QCOMPARE(box->windowTitle(), QString("Critical Error"));
    QVERIFY(!box->text().isEmpty());
    QVERIFY(!f->modbusPort()->isOpen());
    QVERIFY2(f.waitUntil([&] { return f.status() == silentText("1 ", "1 "); }, 8000), sends.describe(f));
    QVERIFY(f->isModbusRunning());
    QCOMPARE(f.openBoxes().size(), 1);
    f->stopModbus();
}

QTEST_MAIN(TestModbusScenarios)
#include "tst_modbus_scenarios.moc"
