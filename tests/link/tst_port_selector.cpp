// The port selector of the main window: the system's ports, then those named with --port.
#include "../common/WindowInFolder.h"
#include "FakeTtyTable.h"
#include "app/MainWindowForm.h"
#include "core/Battery.h"

#include <QComboBox>
#include <QtTest>

class TestPortSelector : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        MainWindow::extraComPorts.clear();
        MainWindow::serialPortTableRoot = "/sys/class/tty";
    }
    void selector_data();
    void selector();
    void sweepReachesWindow();
    void commandLine_data();
    void commandLine();
};

void TestPortSelector::selector_data()
{
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("stored"); // the port in settings.xml
    QTest::addColumn<QStringList>("items");
    QTest::newRow("empty table") << QStringList() << QStringList() << "" << QStringList();
    QTest::newRow("system ports") << QStringList{"ttyUSB1", "ttyACM0"} << QStringList() << ""
                                  << QStringList{"ttyACM0", "ttyUSB1"};
    QTest::newRow("extra after the system's, in the order given")
        << QStringList{"ttyUSB0"} << QStringList{"/tmp/sim-line", "/dev/pts/3", "ttyS7"} << ""
        << QStringList{"ttyUSB0", "/tmp/sim-line", "/dev/pts/3", "ttyS7"};
    QTest::newRow("a port listed once")
        << QStringList{"ttyUSB0"} << QStringList{"/dev/ttyUSB0", "/tmp/a", "/tmp/a"} << ""
        << QStringList{"ttyUSB0", "/tmp/a"};
    QTest::newRow("stored port selected")
        << QStringList{"ttyUSB0"} << QStringList{"/tmp/sim-a", "/tmp/sim-b"} << "/tmp/sim-b"
        << QStringList{"ttyUSB0", "/tmp/sim-a", "/tmp/sim-b"};
}

void TestPortSelector::selector()
{
    QFETCH(QStringList, system);
    QFETCH(QStringList, extra);
    QFETCH(QString, stored);
    QFETCH(QStringList, items);
    FakeTtyTable table;
    for (const QString& name : system)
        QVERIFY(table.add(name, "cdc_acm"));
    MainWindow::serialPortTableRoot = table.root();
    MainWindow::extraComPorts = extra;
    WindowInFolder w(stored.isEmpty() ? QByteArray()
                                      : settingsWith("<com_port>" + stored.toUtf8() + "</com_port>\n"));
    const QComboBox* box = w.window->form()->cmb_com;
    QCOMPARE(box->count(), items.size());
    QCOMPARE(int(w.window->comPortList().size()), items.size());
    for (int i = 0; i < items.size(); ++i) {
        QCOMPARE(box->itemText(i), items[i]);
        QCOMPARE(w.window->comPortList()[size_t(i)]->portName(),
                 items[i].startsWith('/') ? items[i] : "/dev/" + items[i]);
    }
    QCOMPARE(box->currentIndex(), stored.isEmpty() ? (items.isEmpty() ? -1 : 0) : items.indexOf(stored));
}

void TestPortSelector::sweepReachesWindow()
{
    MainWindow::serialPortTableRoot = "/nonexistent";
    WindowInFolder w;
    DevicesGuiData sweep;
    sweep.msd[9].valid = true;
    sweep.msd[9].channel[5].voltage = 13.25;
    sweep.msd[9].channel[5].temperature = -4.5;
    w.window->setNativeRunning(true);
    Battery* battery = w.window->rows()[9][5];
    // Queued, as from the worker's thread: the value travels as a registered type.
    QVERIFY(QMetaObject::invokeMethod(w.window.get(), "dataArrivedHandler", Qt::QueuedConnection,
                                      Q_ARG(DevicesGuiData, sweep)));
    QCOMPARE(battery->voltage(), 0.0);
    QTRY_COMPARE(battery->voltage(), 13.25);
    QCOMPARE(battery->temperature(), -4.5);
    QVERIFY(w.window->rows()[3][0]->hasNoData()); // module 3 did not answer
}

void TestPortSelector::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    // Help and version are answered without any display at all.
    QTest::newRow("help among ports")
        << QStringList{"--port", "/tmp/x", "-h"} << false << 0 << "--port <path>";
    QTest::newRow("version") << QStringList{"--version"} << false << 0 << "orvik-monitor 1.2";
    QTest::newRow("port without a path")
        << QStringList{"--port"} << true << 1 << "Missing value after '--port'";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << true << 1 << "Unknown option 'bogus'";
}

void TestPortSelector::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    if (display)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QTemporaryDir dir;
    process.setWorkingDirectory(dir.path());
    process.start(qEnvironmentVariable("ORVIK_MONITOR"), arguments);
    QVERIFY2(process.waitForFinished(20000), "ORVIK_MONITOR must name the built program");
    const QString text = QString::fromLocal8Bit(process.readAll());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(text.contains(output), qPrintable(text));
}

QTEST_MAIN(TestPortSelector)
#include "tst_port_selector.moc"
