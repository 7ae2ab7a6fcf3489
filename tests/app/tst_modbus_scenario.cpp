// The Modbus exchange of the main window on a pty: against the device simulator, and against
// devices scripted here answer by answer, where the request bytes and sends must be seen.
#include "../common/FileSizeLimit.h"
#include "../common/PtyLine.h"
#include "../common/SimulatedLine.h"
#include "../common/TextColour.h"
#include "../common/WindowInFolder.h"
#include "app/HistoryFeed.h"
#include "app/MainWindowForm.h"
#include "config/GroupsSettingsWindow.h"
#include "core/BatteryGroup.h"
#include "journal/Journal.h"
#include "link/ModbusMaster.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QtTest>
#include <termios.h>

namespace {
const QString kOk = "обмен по modbus: ок";
const QString kSilent1 = "Нет ответа от modbus: адрес {1 } / группа {1 }";
const QString kNoGroups = "Нет групп с батареями для опроса по Modbus";

// Groups as "group first-battery count address first-sensor,...".
QByteArray modbusSettings(const QString& port, const QString& groups)
{
    QString xml = "<mode>true</mode><com_port>" + port + "</com_port>\n";
    for (const QString& group : groups.split(',')) {
        const QStringList g = group.split(' ');
        for (int id = g[1].toInt(); id < g[1].toInt() + g[2].toInt(); ++id)
            xml +=
                QString("<group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n").arg(id / 8).arg(id % 8).arg(g[0]);
        xml += QString("<ModbusAddr%1>%2</ModbusAddr%1><Dat%1>%3</Dat%1>\n").arg(g[0], g[3], g[4]);
    }
    return settingsWith(xml.toUtf8());
}

// Devices on the far end of a pty, answering by a script each: 's' silent, 'l' nine bytes too
// long (sent after the next request), else plainly.
struct ScriptedDevices
{
    PtyLine line;
    int nearEnd = ::open(line.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QSocketNotifier notifier{line.farEnd(), QSocketNotifier::Read};
    QMap<int, QByteArray> scripts{{1, ""}, {2, ""}};
    QList<QByteArray> requests;
    QByteArray in, tail;

    ScriptedDevices()
    {
        termios t{};
        ::tcgetattr(nearEnd, &t); // held open raw, so the line survives the port reopening
        ::cfmakeraw(&t);
        ::tcsetattr(nearEnd, TCSANOW, &t);
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { take(); });
    }
    ~ScriptedDevices() { ::close(nearEnd); }
    // Channel 0 of device 1 reads 12.34 V and 21.5 °C, every other one 12.5x V and 24.x °C.
    static quint16 value(int slave, int reg)
    {
        return slave == 1 && reg % 128 == 3 ? (reg == 3 ? 1234 : 215)
               : reg < 131                  ? 1250 + reg % 9
                                            : 240 + reg % 7;
    }
    void take()
    {
        char buffer[512];
        in.append(buffer, int(qMax<ssize_t>(::read(line.farEnd(), buffer, sizeof buffer), 0)));
        for (; in.size() >= 8; in.remove(0, 1)) {
            const auto* b = reinterpret_cast<const uint8_t*>(in.constData());
            const int slave = b[0], start = b[2] << 8 | b[3], count = b[4] << 8 | b[5];
            if (b[1] != 3 || modbusCrc16(b, 6) != uint16_t(b[6] | b[7] << 8) || !scripts.contains(slave))
                continue;
            requests.append(in.left(8));
            in.remove(0, 7);
            const char shape = scripts[slave].isEmpty() ? 'p' : scripts[slave][0];
            scripts[slave].remove(0, 1);
            QByteArray out = tail, answer = QByteArray(1, char(slave)) + char(3) + char(2 * count);
            tail = QByteArray(shape == 'l' ? 9 : 0, 'Z');
            for (int i = start; i < start + count; ++i)
                answer += QByteArray(1, char(value(slave, i) >> 8)) + char(value(slave, i));
            const uint16_t crc =
                modbusCrc16(reinterpret_cast<const uint8_t*>(answer.constData()), answer.size());
            out += shape == 's' ? QByteArray() : answer + char(crc & 0xFF) + char(crc >> 8);
            if (::write(line.farEnd(), out.constData(), size_t(out.size())) < 0)
                return;
        }
    }
    // The first registers of the requests to one device, in order.
    QString startsOf(int slave) const
    {
        QStringList starts;
        for (const QByteArray& r : requests)
            if (r[0] == slave)
                starts << QString::number(uchar(r[2]) << 8 | uchar(r[3]));
        return starts.join(' ');
    }
};

// The window in the Modbus mode, with the times its requests left.
struct ModbusWindow : WindowInFolder
{
    ModbusWindow(const QString& port, const QString& groups)
        : WindowInFolder(modbusSettings(port, groups), {}, port)
    {
        QObject::connect(window->modbusPort(), &QSerialPort::bytesWritten,
                         [this] { sends << clock.elapsed(); });
        clock.start();
    }
    ~ModbusWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    int openBoxes() const
    {
        const QWidgetList all = QApplication::topLevelWidgets();
        return int(std::count_if(all.begin(), all.end(),
                                 [](QWidget* w) { return qobject_cast<QMessageBox*>(w) && w->isVisible(); }));
    }
    // "12,34 B|21,5 °C|1/1" for a battery with data, "-" for one without.
    QString tile(int id) const
    {
        const MKPWidget* t = battery(id)->widget();
        return battery(id)->hasNoData() ? "-"
                                        : t->voltageLabel()->text() + '|' + t->temperatureLabel()->text() +
                                              '|' + t->addressLabel()->text();
    }
    // Waits until every "battery=text" shows; else names the first that does not.
    QByteArray shows(const QString& expected) const
    {
        for (const QString& token : expected.split(';')) {
            const int id = token.section('=', 0, 0).toInt();
            if (!QTest::qWaitFor([&] { return tile(id) == token.section('=', 1); }, 8000))
                return (QString::number(id) + "=" + tile(id) + ", " + status()).toUtf8();
        }
        return QByteArray();
    }
    bool waitFor(const QString& statusText, int ms = 8000) const
    {
        return QTest::qWaitFor([&] { return status() == statusText; }, ms);
    }
    QElapsedTimer clock;
    QList<qint64> sends; // ms since the window was built
};
} // namespace

class TestModbusScenario : public QObject
{
    Q_OBJECT
private slots:
    void simulated_data();
    void simulated();
    void lineVanishes();
    void aTurn_data();
    void aTurn();
    void startStop();
};

void TestModbusScenario::simulated_data()
{
    // An unreadable device is reported silent and shows no data until the fault is lifted;
    // its first two sends lie minGap..maxGap ms apart.
    QTest::addColumn<QString>("simulator");
    QTest::addColumn<QString>("groups");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("minGap");
    QTest::addColumn<int>("maxGap");
    QTest::addColumn<bool>("readable");
    const auto row = [](const char* name, const QString& sim, const char* groups, const char* expected,
                        int minGap, int maxGap, bool readable = true) {
        QTest::newRow(name) << "--modbus " + sim << QString(groups) << QString(expected) << minGap << maxGap
                            << readable;
    };
    const QString two = "--addresses 1 --set 1:0:1234:215 --set 1:7:1301:199 ";
    const char* shown = "0=12,34 B|21,5 °C|1/1;7=13,01 B|19,9 °C|1/8";
    row("first sensor 120 takes 8 batteries", "--addresses 4 --set 4:120:1300:250 --set 4:127:1277:301",
        "1 0 16 4 120", "0=13,00 B|25,0 °C|1/1;7=12,77 B|30,1 °C|1/8;8=-;15=-", 0, 9999);
    // A dead battery reads 0 V beside a real temperature: a reading, not "no data".
    row("no measurement, a dead battery",
        "--addresses 1 --no-measurement 1:3 --set 1:4:1250:250 --set 1:5:0:250", "1 0 8 1 0",
        "3=-;4=12,50 B|25,0 °C|1/5;5=0,00 B|25,0 °C|1/6", 0, 9999);
    row("groups 1 and 3", "--addresses 11,33 --set 11:0:1111:111 --set 33:0:1333:333",
        "1 0 8 11 0,3 16 8 33 0", "0=11,11 B|11,1 °C|1/1;16=13,33 B|33,3 °C|3/1;8=--,-- B|--,- °C|-/-", 0,
        9999);
    row("split answers", two + "--split 1", "1 0 8 1 0", shown, 140, 420);
    row("byte by byte", two + "--slow 1", "1 0 8 1 0", shown, 250, 420);
    row("echo of the request", two + "--echo 1", "1 0 8 1 0", shown, 140, 420);
    row("garbage before the frame", two + "--garbage 1", "1 0 8 1 0", shown, 140, 420);
    row("exception answers, sent again", two + "--exception 1", "1 0 8 1 0", shown, 380, 1000, false);
    row("silent device", two + "--silent 1", "1 0 8 1 0", shown, 380, 1000, false);
}

void TestModbusScenario::simulated()
{
    QFETCH(QString, simulator);
    QFETCH(QString, groups);
    QFETCH(QString, expected);
    QFETCH(int, minGap);
    QFETCH(int, maxGap);
    QFETCH(bool, readable);
    SimulatedLine sim;
    QVERIFY(sim.start(simulator.split(' ')));
    ModbusWindow f(sim.link(), groups);
    QVERIFY(f->startModbus());
    if (!readable) {
        QVERIFY2(f.waitFor(kSilent1, 16000), qPrintable(f.status()));
        QCOMPARE(f.sends.size(), 3); // silent at the third unanswered send
        QCOMPARE(f->exchangeStatus()->styleSheet() + f.tile(0), QString("color: red-"));
        QVERIFY(sim.command("answer 1"));
    }
    QVERIFY2(f.shows(expected).isEmpty(), f.shows(expected).constData());
    QVERIFY2(f.waitFor(kOk), qPrintable(f.status()));
    QCOMPARE(f->exchangeStatus()->styleSheet(), QString("color: green"));
    const qint64 gap = f.sends[1] - f.sends[0];
    // The sanitizers slow the monitor down; the gaps hold for the plain build.
    QVERIFY2(ORVIK_SANITIZED || (gap >= minGap && gap <= maxGap), qPrintable(QString::number(gap)));
    f->stopModbus();
}

void TestModbusScenario::lineVanishes()
{
    SimulatedLine sim;
    QVERIFY(sim.start({"--modbus", "--addresses", "1"}));
    ModbusWindow f(sim.link(), "1 0 8 1 0");
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitFor(kOk), qPrintable(f.status()));
    QVERIFY(sim.command("vanish"));
    QVERIFY(QTest::qWaitFor([&] { return f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved); },
                            8000));
    QCOMPARE(f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved)->windowTitle(),
             QString("Critical Error"));
    QVERIFY(!f->modbusPort()->isOpen());
    QVERIFY2(f.waitFor(kSilent1), qPrintable(f.status()));
    QVERIFY(f->isModbusRunning());
    QCOMPARE(f.openBoxes(), 1);
}

void TestModbusScenario::aTurn_data()
{
    QTest::addColumn<QByteArray>("script1");
    QTest::addColumn<QByteArray>("script2");
    QTest::addColumn<QString>("starts"); // of the requests to device 1
    // The last bytes of a longer answer arrive after the next request and must not spoil it.
    QTest::newRow("nine bytes too many") << QByteArray("l") << QByteArray() << "3 128 253 3";
    // Three answers lost over two devices, none three in a row: no silence.
    QTest::newRow("lost answers spread over devices")
        << QByteArray("s") << QByteArray("ss") << "3 3 128 253 3";
}

void TestModbusScenario::aTurn()
{
    QFETCH(QByteArray, script1);
    QFETCH(QByteArray, script2);
    QFETCH(QString, starts);
    ScriptedDevices peer;
    peer.scripts = {{1, script1}, {2, script2}};
    ModbusWindow f(peer.line.path(), "1 0 8 1 0,2 8 8 2 0");
    f->show();
    emit f->alarmJournal()->fileWriteTrouble(true); // its notice keeps a label and colour of its own
    bool sawRed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { sawRed = sawRed || f->exchangeStatus()->styleSheet().contains("red"); });
    QVERIFY(f->startModbus());
    watch.start(10);
    QVERIFY2(QTest::qWaitFor([&] { return peer.startsOf(1).startsWith(starts); }, 16000),
             qPrintable(peer.startsOf(1)));
    QVERIFY2(f.waitFor(kOk) && !sawRed, qPrintable(f.status()));
    QCOMPARE(f.tile(0), QString("12,34 B|21,5 °C|1/1"));
    QCOMPARE(peer.requests[0].toHex(' '), QByteArray("01 03 00 03 00 7d 75 eb"));
    QVERIFY(pixelsNear(f->exchangeStatus(), QColor(0, 128, 0)) > 20);
    for (QLabel* label : f->form()->statusBar->findChildren<QLabel*>())
        if (label->text().startsWith("Журнал не записывается на диск"))
            QVERIFY(label->isVisible() && pixelsNear(label, Qt::red) > 20 &&
                    !pixelsNear(label, QColor(0, 128, 0)));
}

void TestModbusScenario::startStop()
{
    ScriptedDevices peer;
    ModbusWindow f(peer.line.path(), "1 0 8 1 0");
    f->show();
    MainWindowForm* ui = f->form();
    const auto locked = [&] {
        return QString("%1 %2%3%4%5%6")
            .arg(ui->pb_stop_start->text())
            .arg(!ui->cmb_com->isEnabled())
            .arg(!f->settingsPage()->findChild<QGroupBox*>("groupBox")->isEnabled())
            .arg(!ui->menuModbus_mode->menuAction()->isEnabled())
            .arg(f->modbusPort()->isOpen())
            .arg(f->isModbusRunning());
    };
    QTest::mouseClick(ui->pb_stop_start, Qt::LeftButton);
    QCOMPARE(locked(), QString("Стоп 11111"));
    QVERIFY(!f->batteryGroups()[1]->isIdle());
    QVERIFY2(f.waitFor(kOk), qPrintable(f.status()));
    QCOMPARE(f.tile(0), QString("12,34 B|21,5 °C|1/1"));

    // The stop zeroes the states, keeps the readings and sends nothing more.
    QTest::mouseClick(ui->pb_stop_start, Qt::LeftButton);
    QCOMPARE(locked(), QString("Старт 00000"));
    QVERIFY(f->batteryGroups()[1]->isIdle());
    QCOMPARE(f.battery(0)->state(), 0);
    QCOMPARE(f.battery(0)->voltage(), 12.34);
    QCOMPARE(f.battery(0)->widget()->voltageLabel()->text(), QString("--,-- B"));
    QTest::qWait(100);
    const int sent = peer.requests.size();
    QTest::qWait(500);
    QCOMPARE(peer.requests.size(), sent);

    // No group left: the start is refused, with the reason.
    f->settingsPage()->moveAll(f->settingsPage()->findChild<QListWidget*>("listWidget_group1"));
    f->settingsPage()->findChild<QPushButton*>("pushButton_apply")->click();
    QTest::mouseClick(ui->pb_stop_start, Qt::LeftButton);
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::NoGroups);
    QVERIFY(box && box->isVisible() && box->text() == kNoGroups);
    QCOMPARE(locked(), QString("Старт 00000"));
    QTest::qWait(300);
    QCOMPARE(peer.requests.size(), sent);
}

QTEST_MAIN(TestModbusScenario)
#include "tst_modbus_scenario.moc"
