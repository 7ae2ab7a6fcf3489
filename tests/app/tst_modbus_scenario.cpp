// The Modbus exchange of the main window against the device simulator on a pty.
#include "../common/FileContent.h"
#include "../common/PtyLine.h"
#include "../common/SimulatedLine.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "app/StatusNotices.h"
#include "config/GroupsSettingsWindow.h"
#include "journal/JournalFormat.h"
#include "widgets/MKPWidget.h"
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {
const QString kOk = "обмен по modbus: ок";
const QString kSilent1 = "Нет ответа от modbus: адрес {1 } / группа {1 }";
const QString kLost1 = "Нет связи: группа 1, адрес 1";

// Groups as "group first-battery count address first-sensor,...".
QByteArray modbusSettings(const QString& port, const QString& groups)
{
    QString xml = "<mode>true</mode><com_port>" + port + "</com_port>\n";
    for (const QString& group : groups.split(',')) {
        const QStringList g = group.split(' ');
        for (int id = g[1].toInt(); id < g[1].toInt() + g[2].toInt(); ++id)
            xml += QString::asprintf("<group_id msd=\"%d\" mkp=\"%d\">", id / 8, id % 8) + g[0] +
                   "</group_id>\n";
        xml += QString("<ModbusAddr%1>%2</ModbusAddr%1><Dat%1>%3</Dat%1>\n").arg(g[0], g[3], g[4]);
    }
    return settingsWith(xml.toUtf8());
}

// The window in the Modbus mode, counting the requests it sends.
struct ModbusWindow : WindowInFolder
{
    ModbusWindow(const QString& port, const QString& groups)
        : WindowInFolder(modbusSettings(port, groups), {}, port)
    {
        QObject::connect(window->modbusPort(), &QSerialPort::bytesWritten, [this] { ++sends; });
    }
    ~ModbusWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // "12,34 B|21,5 °C|1/1" for a battery with data, "-" for one without.
    QString tile(int id) const
    {
        const MKPWidget* t = window->tileOf(battery(id));
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
    int sends = 0;
};
} // namespace

class TestModbusScenario : public QObject
{
    Q_OBJECT
private slots:
    void simulated_data()
    {
        // An unreadable device is reported silent and shows no data until the fault is lifted.
        QTest::addColumn<QString>("simulator");
        QTest::addColumn<QString>("groups");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("readable");
        const auto row = [](const char* name, const QString& sim, const char* groups, const char* expected,
                            bool readable = true) {
            QTest::newRow(name) << "--modbus " + sim << QString(groups) << QString(expected) << readable;
        };
        const QString two = "--addresses 1 --set 1:0:1234:215 --set 1:7:1301:199 ";
        const char* shown = "0=12,34 B|21,5 °C|1/1;7=13,01 B|19,9 °C|1/8";
        row("first sensor 120 takes 8 batteries", "--addresses 4 --set 4:120:1300:250 --set 4:127:1277:301",
            "1 0 16 4 120", "0=13,00 B|25,0 °C|1/1;7=12,77 B|30,1 °C|1/8;8=-;15=-");
        // A dead battery reads 0 V beside a real temperature: a reading, not "no data".
        row("no measurement, a dead battery",
            "--addresses 1 --no-measurement 1:3 --set 1:4:1250:250 --set 1:5:0:250", "1 0 8 1 0",
            "3=-;4=12,50 B|25,0 °C|1/5;5=0,00 B|25,0 °C|1/6");
        row("groups 1 and 3", "--addresses 11,33 --set 11:0:1111:111 --set 33:0:1333:333",
            "1 0 8 11 0,3 16 8 33 0", "0=11,11 B|11,1 °C|1/1;16=13,33 B|33,3 °C|3/1;8=--,-- B|--,- °C|-/-");
        row("silent device", two + "--silent 1", "1 0 8 1 0", shown, false);
    }
    void simulated()
    {
        QFETCH(QString, simulator);
        QFETCH(QString, groups);
        QFETCH(QString, expected);
        QFETCH(bool, readable);
        SimulatedLine sim;
        QVERIFY(sim.start(simulator.split(' ')));
        ModbusWindow f(sim.link(), groups);
        QPushButton* button = f->form()->pb_stop_start;
        bool sawRed = false; // a device read in full is never reported silent
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout,
                         [&] { sawRed = sawRed || f->exchangeStatus()->styleSheet().contains("red"); });
        watch.start(10);
        button->click();
        QVERIFY(button->text() == "Стоп" && !f->form()->cmb_com->isEnabled() && f->isModbusRunning());
        if (!readable) {
            QVERIFY2(f.waitFor(kSilent1, 16000), qPrintable(f.status()));
            QCOMPARE(f->statusNotices()->label(StatusNotices::CommLoss)->text(), kLost1);
            QCOMPARE(f->exchangeStatus()->styleSheet() + f.tile(0), QString("color: red-"));
            QVERIFY(sim.command("answer 1"));
        }
        QVERIFY2(f.shows(expected).isEmpty(), f.shows(expected).constData());
        QVERIFY2(f.waitFor(kOk), qPrintable(f.status()));
        QCOMPARE(f->exchangeStatus()->styleSheet(), QString("color: green"));
        QVERIFY(!readable || !sawRed);

        // The stop zeroes the states, keeps the readings and sends nothing more.
        button->click();
        QVERIFY(button->text() == "Старт" && f->form()->cmb_com->isEnabled() && !f->modbusPort()->isOpen());
        QCOMPARE(f.battery(0)->state(), 0);
        QVERIFY(f.battery(0)->voltage() > 0);
        const int sent = f.sends;
        // No group left: the start is refused, with the reason.
        for (QListWidget* list :
             f->settingsPage()->findChildren<QListWidget*>(QRegularExpression("^listWidget_group")))
            f->settingsPage()->moveAll(list);
        f->settingsPage()->findChild<QPushButton*>("pushButton_apply")->click();
        button->click();
        const QMessageBox* box = f->modbusMessageBoxes().box(ModbusMessageBoxes::NoGroups);
        QVERIFY(box && box->isVisible() && box->text() == "Нет групп с батареями для опроса по Modbus" &&
                button->text() == "Старт");
        QTest::qWait(300);
        QCOMPARE(f.sends, sent);
    }
    void lineLost_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text"); // empty: the simulator's line vanishes while it runs
        QTest::newRow("line vanishes") << int(ModbusMessageBoxes::DeviceRemoved) << QString();
        QTest::newRow("no rights on the port, started twice")
            << int(ModbusMessageBoxes::PortNotOpened)
            << "Не удалось открыть ком порт %1: Permission denied\nНет доступа к порту: добавьте "
               "пользователя в группу dialout и войдите в систему заново.";
    }
    void lineLost()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        SimulatedLine sim;
        PtyLine line;
        const bool refused = !text.isEmpty();
        // Battery 4 of the group reads 15 V: an emergency before the line goes.
        QVERIFY(refused || sim.start({"--modbus", "--addresses", "1", "--set", "1:3:1500:250"}));
        ModbusWindow f(refused ? unopenablePort("pty", line, &text) : sim.link(), "1 0 8 1 0");
        for (int i = 0; refused && i < 2; ++i) {
            f->stopModbus();
            AccessAsNobody nobody;
            QVERIFY(f->startModbus());
        }
        if (!refused) {
            QVERIFY(f->startModbus());
            QVERIFY2(f.waitFor(kOk), qPrintable(f.status()));
            QVERIFY(sim.command("vanish"));
        }
        const auto box = [&] { return f->modbusMessageBoxes().box(ModbusMessageBoxes::Kind(kind)); };
        QVERIFY(QTest::qWaitFor([&] { return box() && box()->isVisible(); }, 8000));
        QCOMPARE(refused ? box()->text() : box()->windowTitle(), refused ? text : "Critical Error");
        QVERIFY(!f->modbusPort()->isOpen());
        QVERIFY2(f.waitFor(kSilent1), qPrintable(f.status()));
        QVERIFY(f->isModbusRunning());
        const QWidgetList all = QApplication::topLevelWidgets(); // one box however often it happens
        QCOMPARE(std::count_if(all.begin(), all.end(),
                               [](QWidget* w) { return qobject_cast<QMessageBox*>(w) && w->isVisible(); }),
                 1);
        QCOMPARE(f->statusNotices()->label(StatusNotices::CommLoss)->text(), kLost1);
        f.window.reset(); // the journal: the emergency's start and the loss, never its end
        QStringList events;
        for (const Event& e :
             JournalFormat::readBack(readFile(f.dir.filePath("journal.html")), AlarmThresholds(), 100).events)
            events << JournalFormat::toHtml(e)
                          .remove(QRegularExpression("<[^>]*>"))
                          .section(QRegularExpression(" \\d\\d:"), 0, 0);
        const QString lost = "Связь Группа 1 (адрес 1) нет связи";
        QCOMPARE(events.join(", "), refused ? lost : "Группа 1 МСД 00 : МКП 04 Начало, " + lost);
    }
};

QTEST_MAIN(TestModbusScenario)
#include "tst_modbus_scenario.moc"
