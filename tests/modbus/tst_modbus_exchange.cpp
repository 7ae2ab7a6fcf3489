// The Modbus exchange of the main window against scripted devices on a pseudo-terminal, for
// what needs the line's own record or an answer shaped exactly: the request bytes, the
// sends of a turn, the start and stop control and its message boxes. The device simulator
// plays the other scenarios (tst_modbus_scenarios).
#include "../common/PtyLine.h"
#include "ModbusPtyPeer.h"
#include "ModbusWindowFixture.h"
#include "../common/TextColour.h"

#include "config/GroupsSettingsWindow.h"
#include "app/HistoryFeed.h"
#include "journal/Journal.h"

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
    void statusSourcesKeepTheirColours_data();
    void statusSourcesKeepTheirColours();
    void longerAnswerJudgedOnItsFirstBytes();
    void lostAnswersSpreadOverDevicesAreNotSilence();
    void groupsShrinkDuringExchange();
    void noStartWithoutGroups();
    void startLocksStopUnlocks();
    void oneBoxOfAKind_data();
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

void TestModbusExchange::statusSourcesKeepTheirColours_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    // No audio server runs for this test: the sound has something to say.
    QTest::newRow("sound") << "sound"
                           << "Звук тревоги не воспроизводится" << QColor(Qt::red);
    QTest::newRow("journal") << "journal"
                             << "Журнал не записывается на диск" << QColor(Qt::red);
    QTest::newRow("history") << "history"
                             << "История не записывается" << QColor(160, 80, 0);
}

void TestModbusExchange::statusSourcesKeepTheirColours()
{
    QFETCH(QString, source);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    ModbusPtyPeer peer;
    peer.addDevice(1);
    ModbusWindowFixture f(peer.path(), {{1, 0, 8, 1, 0}});
    f->show();
    if (source == "journal")
        emit f->alarmJournal()->fileWriteTrouble(true);
    else if (source == "history")
        emit f->history()->notice(text);
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 6000), lineLog(peer, f).constData());
    QLabel* shown = nullptr;
    for (QLabel* label : f->form()->statusBar->findChildren<QLabel*>())
        if (label->isVisible() && label->text().startsWith(text))
            shown = label;
    QVERIFY2(shown, "no label of its own shows the text");
    const QColor green(0, 128, 0);
    QVERIFY(pixelsNear(f->exchangeStatus(), green) > 20);
    QVERIFY(pixelsNear(shown, colour) > 20);
    QCOMPARE(pixelsNear(shown, green), 0);
    f->stopModbus();
}

void TestModbusExchange::longerAnswerJudgedOnItsFirstBytes()
{
    // Nine bytes too many: paced like the wire, the last of them arrive after the next request
    // has gone out, and must not spoil its answer.
    ModbusPtyPeer peer;
    peer.addDevice(1);
    peer.setChannel(1, 127, 1301, 199);
    peer.script(1, {Shape{Fault::Longer, 9}});
    ModbusWindowFixture f(peer.path(), {{1, 0, 16, 1, 120}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitUntil([&] { return f.status() == kOk; }, 8000), lineLog(peer, f).constData());
    QCOMPARE(tileText(f, 7), QString("13,01 B|19,9 °C|1/8"));
    f->stopModbus();
    QCOMPARE(stagesOf(peer.requests().mid(0, 3)), QString("0 1 2"));
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

void TestModbusExchange::oneBoxOfAKind_data()
{
    QTest::addColumn<QString>("port"); // "pty": a line only root may open
    QTest::addColumn<QString>("text");
    QTest::newRow("missing port")
        << "/nonexistent/ttyMB0"
        << "Не удалось открыть ком порт /nonexistent/ttyMB0: No such file or directory";
    QTest::newRow("no rights on the port")
        << "pty"
        << "Не удалось открыть ком порт %1: Permission denied\nНет доступа к порту: добавьте пользователя в "
           "группу dialout и войдите в систему заново.";
}

void TestModbusExchange::oneBoxOfAKind()
{
    // A port that cannot be opened: one box, however often the exchange is started.
    QFETCH(QString, port);
    QFETCH(QString, text);
    PtyLine line;
    if (port == "pty") {
        QVERIFY(line.isReady() && line.denyAccess());
        port = line.path();
        text = text.arg(port);
    }
    ModbusWindowFixture f(port, {{1, 0, 8, 1, 0}});
    const auto start = [&] {
        AccessAsNobody nobody;
        return f->startModbus();
    };
    QVERIFY(start());
    f->stopModbus();
    QVERIFY(start());
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::PortNotOpened);
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->windowTitle(), QString("Error"));
    QCOMPARE(box->text(), text);
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
