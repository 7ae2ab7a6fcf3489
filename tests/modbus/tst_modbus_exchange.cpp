// The Modbus exchange of the main window against scripted devices on a pseudo-terminal:
// the requests on the line, the readings in the tiles, answers in pieces, late, rejected or
// missing, silent devices, groups applied while the exchange runs and a vanishing adapter.
#include "ModbusPtyPeer.h"
#include "ModbusWindowFixture.h"

#include "config/BatteryListWidgetItem.h"
#include "config/GroupsSettingsWindow.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using Fault = ModbusPtyPeer::Fault;
using Shape = ModbusPtyPeer::Shape;
Q_DECLARE_METATYPE(ModbusPtyPeer::Shape)

namespace {
const QString kOk = QStringLiteral("обмен по modbus: ок");
const QString kNoGroups = QStringLiteral("Нет групп с батареями для опроса по Modbus");

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Stages of the requests to one device, in order: 0, 1, 2 by their first register.
QString stagesOf(const QList<ModbusPtyPeer::Request>& requests)
{
    QStringList stages;
    for (const ModbusPtyPeer::Request& r : requests)
        stages << QString::number(r.start == 3 ? 0 : r.start == 128 ? 1 : r.start == 253 ? 2 : -1);
    return stages.join(' ');
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

// What the device end saw, for the message of a failed check.
QByteArray lineLog(const ModbusPtyPeer& peer, const ModbusWindowFixture& f)
{
    QStringList lines{QStringLiteral("status: ") + f.status()};
    for (const ModbusPtyPeer::Request& r : peer.requests())
        lines << QString("%1 ms: %2").arg(r.atMs).arg(hex(r.bytes));
    return lines.join('\n').toUtf8();
}

// Samples the status bar while the exchange runs: was it ever red?
class RedWatch : public QObject
{
public:
    explicit RedWatch(const ModbusWindowFixture& f) : fixture(f)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (fixture.statusStyle().contains(QLatin1String("red")))
                sawRed = true;
        });
        timer.start();
    }
    const ModbusWindowFixture& fixture;
    QTimer timer;
    bool sawRed = false;
};
} // namespace

class TestModbusExchange : public QObject
{
    Q_OBJECT
private slots:
    void requestsOfATurn();
    void readingsReachTiles_data();
    void readingsReachTiles();
    void answerShapes_data();
    void answerShapes();
    void lateAnswerDoesNotMeetTheNextRequest();
    void silentDeviceTurnsBarRedAndBack();
    void lostAnswersSpreadOverDevicesAreNotSilence();
    void groupsOneAndThree();
    void silentAfterFirstStageThenHealthy();
    void groupsAppliedDuringExchange();
    void groupsShrinkDuringExchange();
    void deviceRemovedMidCycle();
    void noStartWithoutGroups();
    void startLocksStopUnlocks();
    void oneBoxOfAKind();
};

void TestModbusExchange::requestsOfATurn()
{
    ModbusPtyPeer peer;
    QVERIFY(peer.isReady());
    peer.addDevice(1);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    const QList<ModbusPtyPeer::Request> sent = peer.requests();
    QVERIFY(sent.size() >= 3);
    QCOMPARE(hex(sent[0].bytes), QString("01 03 00 03 00 7D 75 EB"));
    QCOMPARE(hex(sent[1].bytes), QString("01 03 00 80 00 7D 84 03"));
    QCOMPARE(hex(sent[2].bytes), QString("01 03 00 FD 00 09 14 3C"));
    QCOMPARE(f.statusStyle(), QString("color: green"));
    f->stopModbus();
}

void TestModbusExchange::readingsReachTiles_data()
{
    // channels: "channel=voltage/temperature" register values set on the device;
    // expected: "battery=tile text;…" after the first turn, "-" for no data.
    QTest::addColumn<int>("firstSensor");
    QTest::addColumn<int>("groupSize");
    QTest::addColumn<QString>("channels");
    QTest::addColumn<QString>("expected");

    QTest::newRow("1234 and 215") << 0 << 8 << "0=1234/215"
                                  << "0=12,34 B|21,5 °C|1/1";
    QTest::newRow("first sensor 120 takes 8 batteries")
        << 120 << 16 << "120=1300/250 127=1277/301"
        << "0=13,00 B|25,0 °C|1/1;7=12,77 B|30,1 °C|1/8;8=-;15=-";
    QTest::newRow("first sensor 10") << 10 << 8 << "10=1111/222 17=1212/232"
                                     << "0=11,11 B|22,2 °C|1/1;7=12,12 B|23,2 °C|1/8";
    QTest::newRow("0 with 2550 is no measurement, 0 with 2551 is one") << 0 << 8 << "3=0/2550 4=0/2551"
                                                                       << "3=-;4=0,00 B|255,1 °C|1/5";
}

void TestModbusExchange::readingsReachTiles()
{
    QFETCH(int, firstSensor);
    QFETCH(int, groupSize);
    QFETCH(QString, channels);
    QFETCH(QString, expected);

    ModbusPtyPeer peer;
    peer.addDevice(7);
    for (const QString& token : channels.split(' ')) {
        const QStringList parts = token.split(QRegularExpression("[=/]"));
        peer.setChannel(7, parts[0].toInt(), quint16(parts[1].toUInt()), quint16(parts[2].toUInt()));
    }
    ModbusWindowFixture f(peer.path(), {{1, 0, groupSize, 7, firstSensor}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    for (const QString& token : expected.split(';')) {
        const int id = token.section('=', 0, 0).toInt();
        QCOMPARE(tileText(f, id), token.section('=', 1));
    }
    f->stopModbus();
}

void TestModbusExchange::answerShapes_data()
{
    // The first answer of the device comes in this shape; every later one is whole.
    // sends: how often the first request went out; gap: least and most ms between its sends.
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<int>("sends");
    QTest::addColumn<int>("minGap");
    QTest::addColumn<int>("maxGap");

    QTest::newRow("split in 4, judged once") << Shape{Fault::Split, 4} << 1 << 0 << 0;
    QTest::newRow("split in 3") << Shape{Fault::Split, 3} << 1 << 0 << 0;
    // Paced like the wire, the extra bytes arrive after the next request has gone out.
    QTest::newRow("longer, judged on its first bytes") << Shape{Fault::Longer, 9} << 1 << 0 << 0;
    QTest::newRow("echo of the request first") << Shape{Fault::Echo, 0} << 1 << 0 << 0;
    QTest::newRow("exception, repeated after the time-out") << Shape{Fault::Exception, 0} << 2 << 380 << 1000;
    QTest::newRow("no answer, repeated after the time-out") << Shape{Fault::Silent, 0} << 2 << 380 << 1000;
    QTest::newRow("bad CRC, rejected") << Shape{Fault::BadCrc, 0} << 2 << 1100 << 2500;
    QTest::newRow("noise before the frame, skipped") << Shape{Fault::Garbage, 4} << 1 << 0 << 0;
    QTest::newRow("another slave's frame, not the answer") << Shape{Fault::WrongSlave, 0} << 2 << 380 << 1000;
}

void TestModbusExchange::answerShapes()
{
    QFETCH(Shape, shape);
    QFETCH(int, sends);
    QFETCH(int, minGap);
    QFETCH(int, maxGap);

    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.setChannel(1, 0, 1234, 215);
    peer.setChannel(1, 127, 1301, 199);
    peer.script(1, {shape});
    ModbusWindowFixture f(peer.path(), {{1, 0, 16, 1, 120}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), lineLog(peer, f).constData());
    QCOMPARE(tileText(f, 7), QString("13,01 B|19,9 °C|1/8"));
    f->stopModbus();

    const QList<ModbusPtyPeer::Request> sent = peer.requests();
    QString expectedStages = QString("0 ").repeated(sends) + "1 2";
    QCOMPARE(stagesOf(sent.mid(0, sends + 2)), expectedStages);
    if (sends > 1) {
        const qint64 gap = sent[1].atMs - sent[0].atMs;
        QVERIFY2(gap >= minGap && gap <= maxGap, qPrintable(QString::number(gap)));
    }
}

void TestModbusExchange::lateAnswerDoesNotMeetTheNextRequest()
{
    // The first answer comes after the time-out, when the request has gone out again; the
    // answer to the second send follows at once and must not be taken for the next stage's.
    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.setChannel(1, 0, 1234, 215);
    peer.script(1, {Shape{Fault::Late, 600}});
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), lineLog(peer, f).constData());
    QCOMPARE(tileText(f, 0), QString("12,34 B|21,5 °C|1/1"));
    for (int id = 1; id < 8; ++id)
        QVERIFY2(f.battery(id)->temperature() < 100.0, qPrintable(tileText(f, id)));
    f->stopModbus();
    QCOMPARE(stagesOf(peer.requests().mid(0, 4)), QString("0 0 1 2"));
}

void TestModbusExchange::silentDeviceTurnsBarRedAndBack()
{
    ModbusPtyPeer peer;
    peer.addDevice(5);
    peer.setStanding(5, {Fault::Silent, 0});
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 5, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(
        f.waitUntil([&] { return f.status() == QString("Нет ответа от modbus: адрес {5 } / группа {1 }"); },
                    6000),
        lineLog(peer, f).constData());
    QCOMPARE(f.statusStyle(), QString("color: red"));
    // Three sends, the third given its full time-out too.
    const QList<ModbusPtyPeer::Request> sent = peer.requests();
    QCOMPARE(stagesOf(sent), QString("0 0 0"));
    for (int id = 0; id < 8; ++id)
        QVERIFY(f.battery(id)->hasNoData());

    peer.setStanding(5, {Fault::None, 0});
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    QCOMPARE(f.statusStyle(), QString("color: green"));
    for (int id = 0; id < 8; ++id)
        QVERIFY(!f.battery(id)->hasNoData());
    f->stopModbus();
}

void TestModbusExchange::lostAnswersSpreadOverDevicesAreNotSilence()
{
    // Three answers lost over two devices and two turns: no device lost three in a row.
    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.addDevice(2);
    peer.script(1, {Shape{Fault::Silent, 0}, {}, {}, {}, Shape{Fault::Silent, 0}});
    peer.script(2, {Shape{Fault::Silent, 0}});
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    RedWatch watch(f);
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return peer.requestsTo(2).size() >= 8; }, 16000),
             lineLog(peer, f).constData());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    f->stopModbus();
    QVERIFY(!watch.sawRed);
    QCOMPARE(stagesOf(peer.requestsTo(1).mid(0, 8)), QString("0 0 1 2 0 0 1 2"));
}

void TestModbusExchange::groupsOneAndThree()
{
    ModbusPtyPeer peer;
    peer.addDevice(11);
    peer.addDevice(33);
    peer.setChannel(11, 0, 1111, 111);
    peer.setChannel(33, 0, 1333, 333);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 11, 0}, {3, 16, 8, 33, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return peer.requestsTo(11).size() >= 4; }, 8000),
             lineLog(peer, f).constData());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    QCOMPARE(tileText(f, 0), QString("11,11 B|11,1 °C|1/1"));
    QCOMPARE(tileText(f, 16), QString("13,33 B|33,3 °C|3/1"));
    QCOMPARE(f.battery(8)->voltage(), 0.0);
    QCOMPARE(f.tile(8)->addressLabel()->text(), QString("-/-"));
    for (const ModbusPtyPeer::Request& r : peer.requests())
        QVERIFY(r.slave == 11 || r.slave == 33);

    peer.setStanding(33, {Fault::Silent, 0});
    QVERIFY2(
        f.waitUntil([&] { return f.status() == QString("Нет ответа от modbus: адрес {33 } / группа {3 }"); },
                    10000),
        lineLog(peer, f).constData());
    QVERIFY(f.battery(16)->hasNoData());
    QVERIFY(!f.battery(0)->hasNoData());
    f->stopModbus();
}

void TestModbusExchange::silentAfterFirstStageThenHealthy()
{
    // Device 1 answers its first request and falls silent; device 2's table must still be
    // read from its own first register on.
    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.addDevice(2);
    peer.script(1, {Shape{}});
    peer.setStanding(1, {Fault::Silent, 0});
    peer.setChannel(2, 0, 1200, 215);
    peer.setChannel(2, 1, 1201, 216);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return !f.battery(8)->hasNoData() && f.battery(8)->state() != 0; }, 10000),
             lineLog(peer, f).constData());
    QCOMPARE(f.status(), QString("Нет ответа от modbus: адрес {1 } / группа {1 }"));
    QCOMPARE(tileText(f, 8), QString("12,00 B|21,5 °C|2/1"));
    QCOMPARE(tileText(f, 9), QString("12,01 B|21,6 °C|2/2"));
    QCOMPARE(stagesOf(peer.requestsTo(1)), QString("0 1 1 1"));
    f->stopModbus();
}

void TestModbusExchange::groupsAppliedDuringExchange()
{
    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.addDevice(2);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    GroupsSettingsWindow* page = f->settingsPage();
    auto list = [page](const QString& name) { return page->findChild<QListWidget*>(name); };
    auto apply = [page] { page->findChild<QPushButton*>("pushButton_apply")->click(); };

    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());

    // Emptied: the exchange pauses and says why.
    page->moveAll(list("listWidget_group1"));
    page->moveAll(list("listWidget_group2"));
    apply();
    QVERIFY2(f.waitUntil([&] { return f.status() == kNoGroups; }, 6000), lineLog(peer, f).constData());
    QTest::qWait(100);
    const int before = peer.requests().size();
    QTest::qWait(1000);
    QCOMPARE(peer.requests().size(), before);
    QVERIFY(f->isModbusRunning());

    // Refilled with group 2 alone: only its device is asked.
    QListWidget* channels = list("listWidget_channels");
    channels->clearSelection();
    for (int i = 0; i < channels->count(); ++i) {
        auto* item = static_cast<BatteryListWidgetItem*>(channels->item(i));
        item->setSelected(item->batteryId() < 4);
    }
    page->findChild<QPushButton*>("pbInGroup2")->click();
    apply();
    peer.clearRequests();
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    QVERIFY2(f.waitUntil([&] { return peer.requests().size() >= 6; }, 6000), lineLog(peer, f).constData());
    for (const ModbusPtyPeer::Request& r : peer.requests())
        QCOMPARE(r.slave, 2);
    QCOMPARE(f.battery(0)->groupNumber(), 2);
    QCOMPARE(tileText(f, 3).section('|', 2), QString("2/4"));
    f->stopModbus();
}

void TestModbusExchange::groupsShrinkDuringExchange()
{
    // Groups 1, 2 and 3 in use; groups 2 and 3 are emptied while the cycle runs.
    ModbusPtyPeer peer;
    for (int a = 1; a <= 3; ++a)
        peer.addDevice(a);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}, {3, 16, 8, 3, 0}});
    GroupsSettingsWindow* page = f->settingsPage();
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return peer.requestsTo(3).size() >= 1; }, 8000), lineLog(peer, f).constData());
    page->moveAll(page->findChild<QListWidget*>("listWidget_group2"));
    page->moveAll(page->findChild<QListWidget*>("listWidget_group3"));
    page->findChild<QPushButton*>("pushButton_apply")->click();
    QTest::qWait(1500);
    peer.clearRequests();
    QVERIFY2(f.waitUntil([&] { return peer.requests().size() >= 6; }, 8000), lineLog(peer, f).constData());
    for (const ModbusPtyPeer::Request& r : peer.requests())
        QCOMPARE(r.slave, 1);
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    f->stopModbus();
}

void TestModbusExchange::deviceRemovedMidCycle()
{
    ModbusPtyPeer peer;
    peer.addDevice(1);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    peer.vanish();
    QVERIFY2(
        f.waitUntil([&] { return f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved); }, 6000),
        lineLog(peer, f).constData());
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved);
    QCOMPARE(box->windowTitle(), QString("Critical Error"));
    QVERIFY(!box->text().isEmpty());
    QVERIFY(!f->modbusPort()->isOpen());
    // The cycle goes on without a port and finds the device silent.
    QVERIFY2(
        f.waitUntil([&] { return f.status() == QString("Нет ответа от modbus: адрес {1 } / группа {1 }"); },
                    8000),
        lineLog(peer, f).constData());
    QVERIFY(f->isModbusRunning());
    QCOMPARE(f.openBoxes().size(), 1);
    f->stopModbus();
}

void TestModbusExchange::noStartWithoutGroups()
{
    ModbusPtyPeer peer;
    peer.addDevice(1);
    ModbusWindowFixture f(peer.path(), {});
    QVERIFY(!f->startModbus());
    QVERIFY(!f->isModbusRunning());
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::NoGroups);
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->text(), kNoGroups);
    QVERIFY(f->form()->cmb_com->isEnabled());
    QVERIFY(f->form()->menuModbus_mode->menuAction()->isEnabled());
    QVERIFY(f->settingsPage()->findChild<QGroupBox*>("groupBox")->isEnabled());
    QCOMPARE(f->form()->pb_stop_start->text(), QString("Старт"));
    QTest::qWait(300);
    QVERIFY(peer.requests().isEmpty());
    QVERIFY(!f->modbusPort()->isOpen());
}

void TestModbusExchange::startLocksStopUnlocks()
{
    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.setChannel(1, 0, 1234, 215);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}});
    QGroupBox* modeBox = f->settingsPage()->findChild<QGroupBox*>("groupBox");
    QVERIFY(f->startModbus());
    QCOMPARE(f->form()->pb_stop_start->text(), QString("Стоп"));
    QVERIFY(!f->form()->cmb_com->isEnabled());
    QVERIFY(!f->form()->menuModbus_mode->menuAction()->isEnabled());
    QVERIFY(!modeBox->isEnabled());
    QVERIFY(!f->batteryGroups()[1]->isIdle());
    QVERIFY(f->modbusPort()->isOpen());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());

    f->stopModbus();
    QCOMPARE(f->form()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(f->form()->cmb_com->isEnabled());
    QVERIFY(f->form()->menuModbus_mode->menuAction()->isEnabled());
    QVERIFY(modeBox->isEnabled());
    QVERIFY(f->batteryGroups()[1]->isIdle());
    QVERIFY(!f->modbusPort()->isOpen());
    QCOMPARE(f.battery(0)->state(), 0);
    QCOMPARE(f.battery(0)->voltage(), 12.34);
    // Nothing more goes out once stopped.
    QTest::qWait(100);
    const int sent = peer.requests().size();
    QTest::qWait(600);
    QCOMPARE(peer.requests().size(), sent);
}

void TestModbusExchange::oneBoxOfAKind()
{
    // A port that cannot be opened: one box, however often the exchange is started.
    ModbusWindowFixture f(QStringLiteral("/nonexistent/ttyMB0"), {{1, 0, 8, 1, 0}});
    QVERIFY(f->startModbus());
    f->stopModbus();
    QVERIFY(f->startModbus());
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::PortNotOpened);
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->windowTitle(), QString("Error"));
    QCOMPARE(f.openBoxes().size(), 1);
    // The exchange runs without a port and ends in the silent-device message.
    QVERIFY2(
        f.waitUntil([&] { return f.status() == QString("Нет ответа от modbus: адрес {1 } / группа {1 }"); },
                    6000),
        qPrintable(f.status()));
    f->stopModbus();
}

QTEST_MAIN(TestModbusExchange)
#include "tst_modbus_exchange.moc"
