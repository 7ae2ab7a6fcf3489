// The Modbus exchange of the main window on a pty: against the device simulator, which paces
// its bytes like the wire and injects faults, and against devices scripted here, answer by
// answer, for what needs the line's own record: the request bytes, the sends of a turn, the
// start and stop control and its message boxes.
#include "../common/FileSizeLimit.h"
#include "../common/PtyLine.h"
#include "../common/SimulatedLine.h"
#include "../common/TextColour.h"
#include "../common/WindowInFolder.h"
#include "app/HistoryFeed.h"
#include "app/MainWindowForm.h"
#include "config/BatteryListWidgetItem.h"
#include "config/GroupsSettingsWindow.h"
#include "core/BatteryGroup.h"
#include "journal/Journal.h"
#include "link/ModbusMaster.h"
#include "widgets/MKPWidget.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>
#include <fcntl.h>
#include <termios.h>

Q_DECLARE_METATYPE(QList<GroupLayout>)

namespace {
const QString kOk = "обмен по modbus: ок";
const QString kSilent1 = "Нет ответа от modbus: адрес {1 } / группа {1 }";
const QString kNoGroups = "Нет групп с батареями для опроса по Modbus";

// Devices on the far end of a pty, answered from the test's own event loop: each answer
// shaped by a script, its bytes paced like the wire; every request kept.
struct ScriptedDevices
{
    // Longer: nine bytes of noise after the answer, sent once the next request is in.
    enum Shape
    {
        Plain,
        Silent,
        Longer
    };
    struct Request
    {
        QByteArray bytes;
        int slave, start;
    };
    PtyLine line;
    int nearEnd = -1; // held open, so that the line survives the monitor reopening its port
    QSocketNotifier notifier{line.farEnd(), QSocketNotifier::Read};
    QTimer pacer;
    QMap<int, QVector<quint16>> tables;
    QMap<int, QList<Shape>> scripts;
    QList<Request> requests;
    QByteArray in, out, tail;

    explicit ScriptedDevices(const QList<int>& slaves)
    {
        nearEnd = ::open(line.path().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        ::tcgetattr(nearEnd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(nearEnd, TCSANOW, &t);
        for (int s : slaves) // 12.5x V and 24.x °C on every channel
            for (int c = 0; c < 128; ++c)
                setChannel(s, c, quint16(1250 + (s * 7 + c) % 9), quint16(240 + (s * 3 + c) % 7));
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { take(); });
        // Sixteen bytes a tick: eleven bits a byte at 19200 baud.
        pacer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pacer, &QTimer::timeout, [this] {
            if (::write(line.farEnd(), out.constData(), size_t(qMin(16, out.size()))) > 0)
                out.remove(0, qMin(16, out.size()));
            if (out.isEmpty())
                pacer.stop();
        });
    }
    ~ScriptedDevices() { ::close(nearEnd); }
    void setChannel(int slave, int channel, quint16 volts, quint16 degrees)
    {
        tables[slave].resize(262);
        tables[slave][3 + channel] = volts;
        tables[slave][131 + channel] = degrees;
    }
    void take()
    {
        char buffer[512];
        const ssize_t n = ::read(line.farEnd(), buffer, sizeof buffer);
        in.append(buffer, int(qMax<ssize_t>(n, 0)));
        while (in.size() >= 8) {
            const auto* b = reinterpret_cast<const uint8_t*>(in.constData());
            if (b[1] != 3 || modbusCrc16(b, 6) != uint16_t(b[6] | b[7] << 8)) {
                in.remove(0, 1);
                continue;
            }
            const int slave = b[0], start = b[2] << 8 | b[3], count = b[4] << 8 | b[5];
            requests.append({in.left(8), slave, start});
            in.remove(0, 8);
            out += tail;
            tail.clear();
            const Shape shape = scripts[slave].isEmpty() ? Plain : scripts[slave].takeFirst();
            if (!tables.contains(slave) || shape == Silent)
                continue;
            QByteArray answer = QByteArray(1, char(slave)) + char(3) + char(2 * count);
            for (int i = start; i < start + count; ++i)
                answer += QByteArray(1, char(tables[slave].value(i) >> 8)) + char(tables[slave].value(i));
            const uint16_t crc =
                modbusCrc16(reinterpret_cast<const uint8_t*>(answer.constData()), uint16_t(answer.size()));
            out += answer + char(crc & 0xFF) + char(crc >> 8);
            tail = QByteArray(shape == Longer ? 9 : 0, 'Z');
            pacer.start(9);
        }
    }
    // Stages of the requests to one device, in order: 0, 1, 2 by their first register.
    QString stagesOf(int slave, int count) const
    {
        QStringList stages;
        for (const Request& r : requests)
            if (r.slave == slave && stages.size() < count)
                stages << QString::number(r.start == 3 ? 0 : r.start == 128 ? 1 : r.start == 253 ? 2 : -1);
        return stages.join(' ');
    }
    int sentTo(int slave) const
    {
        return int(std::count_if(requests.begin(), requests.end(),
                                 [&](const Request& r) { return r.slave == slave; }));
    }
};

// The window in the Modbus mode on this port, with message boxes as they pop up.
struct ModbusWindow : WindowInFolder
{
    ModbusWindow(const QString& port, const QList<GroupLayout>& layout)
        : WindowInFolder(modbusSettings(port, layout), {}, port)
    {
        QObject::connect(window->modbusPort(), &QSerialPort::bytesWritten,
                         [this](qint64) { sends << clock.elapsed(); });
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
    // "battery=text;…": the batteries that show otherwise, empty when none does.
    QString mismatches(const QString& expected) const
    {
        QStringList wrong;
        for (const QString& token : expected.split(';'))
            if (tile(token.section('=', 0, 0).toInt()) != token.section('=', 1))
                wrong << token.section('=', 0, 0) + "=" + tile(token.section('=', 0, 0).toInt());
        return wrong.join(';');
    }
    bool waitFor(const QString& statusText, int ms = 8000) const
    {
        return QTest::qWaitFor([&] { return status() == statusText; }, ms);
    }
    const char* describe()
    {
        QStringList lines{"status: " + status(), "tiles: " + mismatches("0=;1=;7=;8=;9=;16=;40=")};
        for (qint64 t : sends)
            lines << QString::number(t);
        text = lines.join(' ').toUtf8();
        return text.constData();
    }
    QElapsedTimer clock;
    QList<qint64> sends; // when each request left the monitor, ms since the window was built
    QByteArray text;
};
} // namespace

class TestModbusScenario : public QObject
{
    Q_OBJECT
private slots:
    void simulated_data();
    void simulated();
    void silentAfterFirstStage();
    void lineVanishes();
    void aTurn_data();
    void aTurn();
    void groupsChangeDuringExchange();
    void startStopThroughTheButton();
    void oneBoxOfAKind_data();
    void oneBoxOfAKind();
};

void TestModbusScenario::simulated_data()
{
    // Simulator options, the groups, what the tiles show. A device that cannot be read is
    // reported silent and shows no data until the fault is lifted; its first two sends lie
    // `minGap`..`maxGap` ms apart.
    QTest::addColumn<QString>("simulator");
    QTest::addColumn<QList<GroupLayout>>("layout");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("minGap");
    QTest::addColumn<int>("maxGap");
    const QList<GroupLayout> one{{1, 0, 8, 1, 0}};
    const QString two = "--addresses 1 --set 1:0:1234:215 --set 1:7:1301:199 ";
    const QString shown = "0=12,34 B|21,5 °C|1/1;7=13,01 B|19,9 °C|1/8";
    QTest::newRow("1234 and 215") << "--addresses 1 --set 1:0:1234:215" << one << "0=12,34 B|21,5 °C|1/1"
                                  << true << 0 << 9999;
    QTest::newRow("first sensor 120 takes 8 batteries")
        << "--addresses 4 --set 4:120:1300:250 --set 4:127:1277:301" << QList<GroupLayout>{{1, 0, 16, 4, 120}}
        << "0=13,00 B|25,0 °C|1/1;7=12,77 B|30,1 °C|1/8;8=-;15=-" << true << 0 << 9999;
    // A dead battery reads 0 V beside a real temperature: that is a reading, not "no data".
    QTest::newRow("no measurement, and a dead battery")
        << "--addresses 1 --no-measurement 1:3 --set 1:4:1250:250 --set 1:5:0:250" << one
        << "3=-;4=12,50 B|25,0 °C|1/5;5=0,00 B|25,0 °C|1/6" << true << 0 << 9999;
    QTest::newRow("groups 1 and 3") << "--addresses 11,33 --set 11:0:1111:111 --set 33:0:1333:333"
                                    << QList<GroupLayout>{{1, 0, 8, 11, 0}, {3, 16, 8, 33, 0}}
                                    << "0=11,11 B|11,1 °C|1/1;16=13,33 B|33,3 °C|3/1;8=--,-- B|--,- °C|-/-"
                                    << true << 0 << 9999;
    QTest::newRow("six groups, first sensors apart")
        << "--addresses 1-6 --set 6:40:1190:290"
        << QList<GroupLayout>{{1, 0, 8, 1, 0},   {2, 8, 8, 2, 8},   {3, 16, 8, 3, 16},
                              {4, 24, 8, 4, 24}, {5, 32, 8, 5, 32}, {6, 40, 8, 6, 40}}
        << "40=11,90 B|29,0 °C|6/1" << true << 0 << 9999;
    QTest::newRow("split answers") << two + "--split 1" << one << shown << true << 140 << 420;
    QTest::newRow("byte by byte, 1 ms a byte")
        << two + "--slow 1 --slow-byte 1" << one << shown << true << 250 << 420;
    QTest::newRow("echo of the request") << two + "--echo 1" << one << shown << true << 140 << 420;
    QTest::newRow("late answers") << two + "--late 1" << one << shown << true << 380 << 1000;
    QTest::newRow("exception answers, sent again after the time-out")
        << two + "--exception 1" << one << shown << false << 380 << 1000;
    QTest::newRow("bad CRC, rejected") << two + "--bad-crc 1" << one << shown << false << 1100 << 2500;
    QTest::newRow("garbage before the frame, skipped")
        << two + "--garbage 1" << one << shown << true << 140 << 420;
    QTest::newRow("wrong slave address, not the answer")
        << two + "--wrong-address 1" << one << shown << false << 380 << 1000;
    QTest::newRow("silent device") << two + "--silent 1" << one << shown << false << 380 << 1000;
}

void TestModbusScenario::simulated()
{
    QFETCH(QString, simulator);
    QFETCH(QList<GroupLayout>, layout);
    QFETCH(QString, expected);
    QFETCH(bool, readable);
    QFETCH(int, minGap);
    QFETCH(int, maxGap);
    SimulatedLine sim;
    QVERIFY(sim.start(QString("--modbus " + simulator).split(' ')));
    ModbusWindow f(sim.link(), layout);
    QVERIFY(f->startModbus());
    if (!readable) {
        QVERIFY2(f.waitFor(kSilent1, 16000), f.describe());
        // Silent after the third unanswered send, not a send later.
        QVERIFY2(f.sends.size() == 3, f.describe());
        QCOMPARE(f->exchangeStatus()->styleSheet(), QString("color: red"));
        QCOMPARE(f.tile(0), QString("-"));
        QVERIFY(sim.command("answer 1"));
    }
    QVERIFY2(QTest::qWaitFor([&] { return f.mismatches(expected).isEmpty(); }, 16000), f.describe());
    QVERIFY2(f.waitFor(kOk), f.describe());
    QCOMPARE(f->exchangeStatus()->styleSheet(), QString("color: green"));
    QVERIFY(f.sends.size() >= 2);
    const qint64 gap = f.sends[1] - f.sends[0];
    // The sanitizers slow the monitor down; the gaps hold for the plain build.
    QVERIFY2(ORVIK_SANITIZED || (gap >= minGap && gap <= maxGap), qPrintable(QString::number(gap)));
    f->stopModbus();
}

void TestModbusScenario::silentAfterFirstStage()
{
    // Device 1 answers its first request, then falls silent; device 2's table must still be
    // stored from its first register on (its temperatures from the temperature registers).
    SimulatedLine sim;
    QVERIFY(sim.start(QString("--modbus --addresses 1,2 --set 2:0:1200:215 --set 2:1:1201:216").split(' ')));
    ModbusWindow f(sim.link(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    // Once the first request is on its way and its answer queued, device 1 goes silent.
    QObject::connect(f->modbusPort(), &QSerialPort::bytesWritten, [&] {
        if (f.sends.size() == 1)
            QTimer::singleShot(60, [&] { sim.command("silent 1"); });
    });
    QVERIFY(f->startModbus());
    QVERIFY2(QTest::qWaitFor([&] { return f.battery(8)->state() != 0; }, 16000), f.describe());
    QCOMPARE(f.mismatches("8=12,00 B|21,5 °C|2/1;9=12,01 B|21,6 °C|2/2"), QString());
    QCOMPARE(f.status(), kSilent1);
    QVERIFY(f.battery(0)->hasNoData());
    f->stopModbus();
}

void TestModbusScenario::lineVanishes()
{
    SimulatedLine sim;
    QVERIFY(sim.start(QString("--modbus --addresses 1").split(' ')));
    ModbusWindow f(sim.link(), {{1, 0, 8, 1, 0}});
    QVERIFY(f->startModbus());
    QVERIFY2(f.waitFor(kOk), f.describe());
    QVERIFY(sim.command("vanish"));
    QVERIFY2(
        QTest::qWaitFor([&] { return f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved); }, 8000),
        f.describe());
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::DeviceRemoved);
    QCOMPARE(box->windowTitle(), QString("Critical Error"));
    QVERIFY(!box->text().isEmpty());
    QVERIFY(!f->modbusPort()->isOpen());
    QVERIFY2(f.waitFor(kSilent1), f.describe());
    QVERIFY(f->isModbusRunning());
    QCOMPARE(f.openBoxes(), 1);
    f->stopModbus();
}

void TestModbusScenario::aTurn_data()
{
    QTest::addColumn<int>("shape"); // of the first answer of device 1
    // Beside the green exchange status, another source's notice keeps a label and colour of
    // its own. No audio server runs for this test: the sound has something to say.
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("plain, sound notice")
        << int(ScriptedDevices::Plain) << "Звук тревоги не воспроизводится" << QColor(Qt::red);
    // Paced like the wire, the last bytes of a longer answer arrive after the next request has
    // gone out, and must not spoil its answer.
    QTest::newRow("nine bytes too many, journal notice")
        << int(ScriptedDevices::Longer) << "Журнал не записывается на диск" << QColor(Qt::red);
    // Four answers lost over two devices and two turns: no device lost three in a row.
    QTest::newRow("lost answers spread over devices, history notice")
        << int(ScriptedDevices::Silent) << "История не записывается" << QColor(160, 80, 0);
}

void TestModbusScenario::aTurn()
{
    QFETCH(int, shape);
    QFETCH(QString, notice);
    QFETCH(QColor, colour);
    const bool lost = shape == ScriptedDevices::Silent;
    ScriptedDevices peer({1, 2});
    peer.setChannel(1, 7, 1301, 199);
    peer.scripts[1] = {ScriptedDevices::Shape(shape)};
    if (lost) {
        peer.scripts[1] << ScriptedDevices::Plain << ScriptedDevices::Plain << ScriptedDevices::Plain
                        << ScriptedDevices::Silent;
        peer.scripts[2] = {ScriptedDevices::Silent, ScriptedDevices::Silent};
    }
    ModbusWindow f(peer.line.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}});
    f->show();
    if (notice.startsWith("Журнал"))
        emit f->alarmJournal()->fileWriteTrouble(true);
    else if (notice.startsWith("История"))
        emit f->history()->notice(notice);
    bool sawRed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout,
                     [&] { sawRed = sawRed || f->exchangeStatus()->styleSheet().contains("red"); });
    watch.start(10);
    QVERIFY(f->startModbus());
    QVERIFY2(QTest::qWaitFor([&] { return peer.sentTo(2) >= 8; }, 16000), f.describe());
    QVERIFY2(f.waitFor(kOk), f.describe());
    QCOMPARE(f.tile(7), QString("13,01 B|19,9 °C|1/8"));
    QCOMPARE(f->exchangeStatus()->styleSheet(), QString("color: green"));
    QLabel* shown = nullptr;
    for (QLabel* label : f->form()->statusBar->findChildren<QLabel*>())
        if (label->isVisible() && label->text().startsWith(notice))
            shown = label;
    QVERIFY2(shown, "no label of its own shows the notice");
    QVERIFY(pixelsNear(f->exchangeStatus(), QColor(0, 128, 0)) > 20);
    QVERIFY(pixelsNear(shown, colour) > 20);
    QCOMPARE(pixelsNear(shown, QColor(0, 128, 0)), 0);
    f->stopModbus();
    QVERIFY(!sawRed);
    QCOMPARE(peer.stagesOf(1, 8), QString(lost ? "0 0 1 2 0 0 1 2" : "0 1 2 0 1 2 0 1"));
    QCOMPARE(peer.requests[0].bytes.toHex(' '), QByteArray("01 03 00 03 00 7d 75 eb"));
    if (!lost) {
        QCOMPARE(peer.requests[1].bytes.toHex(' '), QByteArray("01 03 00 80 00 7d 84 03"));
        QCOMPARE(peer.requests[2].bytes.toHex(' '), QByteArray("01 03 00 fd 00 09 14 3c"));
    }
}

void TestModbusScenario::groupsChangeDuringExchange()
{
    ScriptedDevices peer({1, 2, 3});
    peer.setChannel(2, 0, 1222, 222);
    ModbusWindow f(peer.line.path(), {{1, 0, 8, 1, 0}, {2, 8, 8, 2, 0}, {3, 16, 8, 3, 0}});
    GroupsSettingsWindow* page = f->settingsPage();
    auto list = [page](const QString& name) { return page->findChild<QListWidget*>(name); };
    auto apply = [page] { page->findChild<QPushButton*>("pushButton_apply")->click(); };
    QVERIFY(f->startModbus());
    QVERIFY2(QTest::qWaitFor([&] { return peer.sentTo(3) >= 1; }, 8000), f.describe());

    // Groups 2 and 3 emptied while running: group 1 alone is asked.
    page->moveAll(list("listWidget_group2"));
    page->moveAll(list("listWidget_group3"));
    apply();
    QTest::qWait(1500);
    peer.requests.clear();
    QVERIFY2(QTest::qWaitFor([&] { return peer.requests.size() >= 6; }, 8000), f.describe());
    QCOMPARE(peer.sentTo(1), peer.requests.size());
    QVERIFY2(f.waitFor(kOk), f.describe());

    // All emptied: the exchange pauses and says why.
    page->moveAll(list("listWidget_group1"));
    apply();
    QVERIFY2(f.waitFor(kNoGroups), f.describe());
    QCOMPARE(f->exchangeStatus()->styleSheet(), QString("color: red"));
    QTest::qWait(200);
    const int sent = peer.requests.size();
    QTest::qWait(1000);
    QCOMPARE(peer.requests.size(), sent);
    QVERIFY(f->isModbusRunning());

    // Refilled: group 2 alone, batteries 0..3, is asked again.
    QListWidget* channels = list("listWidget_channels");
    for (int i = 0; i < channels->count(); ++i) {
        auto* item = static_cast<BatteryListWidgetItem*>(channels->item(i));
        item->setSelected(item->batteryId() < 4);
    }
    page->findChild<QPushButton*>("pbInGroup2")->click();
    apply();
    QVERIFY2(QTest::qWaitFor([&] { return f.mismatches("0=12,22 B|22,2 °C|2/1").isEmpty(); }, 8000),
             f.describe());
    QVERIFY2(f.waitFor(kOk), f.describe());
    f->stopModbus();
}

void TestModbusScenario::startStopThroughTheButton()
{
    ScriptedDevices peer({1});
    peer.setChannel(1, 0, 1234, 215);
    ModbusWindow f(peer.line.path(), {{1, 0, 8, 1, 0}});
    f->show();
    MainWindowForm* ui = f->form();
    QGroupBox* modeBox = f->settingsPage()->findChild<QGroupBox*>("groupBox");
    const auto unlocked = [&] {
        return ui->pb_stop_start->text() == "Старт" && ui->cmb_com->isEnabled() && modeBox->isEnabled() &&
               ui->menuModbus_mode->menuAction()->isEnabled() && !f->modbusPort()->isOpen() &&
               !f->isModbusRunning();
    };
    QCOMPARE(ui->cmb_com->currentText(), peer.line.path());
    QTest::mouseClick(ui->pb_stop_start, Qt::LeftButton);
    QVERIFY(f->isModbusRunning());
    QCOMPARE(ui->pb_stop_start->text(), QString("Стоп"));
    QVERIFY(!ui->cmb_com->isEnabled() && !modeBox->isEnabled() &&
            !ui->menuModbus_mode->menuAction()->isEnabled());
    QVERIFY(!f->batteryGroups()[1]->isIdle());
    QVERIFY(f->modbusPort()->isOpen());
    QVERIFY2(f.waitFor(kOk), f.describe());
    QCOMPARE(f.tile(0), QString("12,34 B|21,5 °C|1/1"));

    QTest::mouseClick(ui->pb_stop_start, Qt::LeftButton);
    QVERIFY(unlocked());
    QVERIFY(f->batteryGroups()[1]->isIdle());
    // The stop zeroes the states and keeps the readings.
    QCOMPARE(f.battery(0)->state(), 0);
    QCOMPARE(f.battery(0)->voltage(), 12.34);
    QCOMPARE(f.battery(0)->widget()->voltageLabel()->text(), QString("--,-- B"));
    // Nothing more goes out once stopped.
    QTest::qWait(100);
    const int sent = peer.requests.size();
    QTest::qWait(600);
    QCOMPARE(peer.requests.size(), sent);

    // No group left: the start is refused, with the reason.
    f->settingsPage()->moveAll(f->settingsPage()->findChild<QListWidget*>("listWidget_group1"));
    f->settingsPage()->findChild<QPushButton*>("pushButton_apply")->click();
    QTest::mouseClick(ui->pb_stop_start, Qt::LeftButton);
    const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::NoGroups);
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->text(), kNoGroups);
    QVERIFY(unlocked());
    QTest::qWait(300);
    QCOMPARE(peer.requests.size(), sent);
}

void TestModbusScenario::oneBoxOfAKind_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing port")
        << "/nonexistent/ttyMB0"
        << "Не удалось открыть ком порт /nonexistent/ttyMB0: No such file or directory";
    QTest::newRow("no rights on the port")
        << "pty"
        << "Не удалось открыть ком порт %1: Permission denied\nНет доступа к порту: добавьте "
           "пользователя в группу dialout и войдите в систему заново.";
}

void TestModbusScenario::oneBoxOfAKind()
{
    // A port that cannot be opened: one box, however often the exchange is started.
    QFETCH(QString, port);
    QFETCH(QString, text);
    PtyLine line;
    ModbusWindow f(unopenablePort(port, line, &text), {{1, 0, 8, 1, 0}});
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
    QCOMPARE(f.openBoxes(), 1);
    // The exchange runs without a port and ends in the silent-device message.
    QVERIFY2(f.waitFor(kSilent1, 6000), qPrintable(f.status()));
    f->stopModbus();
}

QTEST_MAIN(TestModbusScenario)
#include "tst_modbus_scenario.moc"
