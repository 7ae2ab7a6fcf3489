// The port selector of the main window: the system's ports, then those named with --port.
#include "../common/WindowInFolder.h"
#include "FakeTtyTable.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "core/Battery.h"

#include <QComboBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class TestPortSelector : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void selector_data();
    void selector();
    void storedPortSelected();
    void sweepReachesWindow();
    void commandLine_data();
    void commandLine();
};

namespace {
QStringList itemsOf(const WindowInFolder& w)
{
    QStringList texts;
    for (int i = 0; i < w.window->form()->cmb_com->count(); ++i)
        texts.append(w.window->form()->cmb_com->itemText(i));
    return texts;
}

} // namespace

void TestPortSelector::cleanup()
{
    MainWindow::extraComPorts.clear();
    MainWindow::serialPortTableRoot = QStringLiteral("/sys/class/tty");
}

void TestPortSelector::selector_data()
{
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("paths");

    QTest::newRow("empty table") << QStringList() << QStringList() << QStringList() << QStringList();
    QTest::newRow("system ports only")
        << QStringList{"ttyUSB1", "ttyACM0"} << QStringList() << QStringList{"ttyACM0", "ttyUSB1"}
        << QStringList{"/dev/ttyACM0", "/dev/ttyUSB1"};
    QTest::newRow("extra only") << QStringList() << QStringList{"/dev/pts/7"} << QStringList{"/dev/pts/7"}
                                << QStringList{"/dev/pts/7"};
    QTest::newRow("extra after the system's, in the order given")
        << QStringList{"ttyUSB0", "ttyACM0"} << QStringList{"/tmp/sim-line", "/dev/pts/3", "ttyS7"}
        << QStringList{"ttyACM0", "ttyUSB0", "/tmp/sim-line", "/dev/pts/3", "ttyS7"}
        << QStringList{"/dev/ttyACM0", "/dev/ttyUSB0", "/tmp/sim-line", "/dev/pts/3", "/dev/ttyS7"};
    QTest::newRow("a port listed once")
        << QStringList{"ttyUSB0"} << QStringList{"/dev/ttyUSB0", "/tmp/a", "/tmp/a", "ttyUSB0"}
        << QStringList{"ttyUSB0", "/tmp/a"} << QStringList{"/dev/ttyUSB0", "/tmp/a"};
}

void TestPortSelector::selector()
{
    QFETCH(QStringList, system);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, items);
    QFETCH(QStringList, paths);

    FakeTtyTable table;
    for (const QString& name : system)
        QVERIFY(table.add(name, "cdc_acm"));
    MainWindow::serialPortTableRoot = table.root();
    MainWindow::extraComPorts = extra;
    WindowInFolder w;
    QCOMPARE(itemsOf(w), items);
    QCOMPARE(static_cast<int>(w.window->comPortList().size()), items.size());
    for (int i = 0; i < items.size(); ++i)
        QCOMPARE(w.window->comPortList()[static_cast<size_t>(i)]->portName(), paths[i]);
    QCOMPARE(w.window->form()->cmb_com->currentIndex(), items.isEmpty() ? -1 : 0);
}

void TestPortSelector::storedPortSelected()
{
    FakeTtyTable table;
    QVERIFY(table.add("ttyUSB0", "ftdi_sio"));
    MainWindow::serialPortTableRoot = table.root();
    MainWindow::extraComPorts = QStringList{"/tmp/sim-a", "/tmp/sim-b"};
    WindowInFolder w("<!DOCTYPE settings>\n<settings>\n <com_port>/tmp/sim-b</com_port>\n</settings>\n");
    QCOMPARE(w.window->form()->cmb_com->currentText(), QStringLiteral("/tmp/sim-b"));
    QCOMPARE(w.window->form()->cmb_com->currentIndex(), 2);
}

void TestPortSelector::sweepReachesWindow()
{
    MainWindow::serialPortTableRoot = QStringLiteral("/nonexistent");
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
    QTest::addColumn<bool>("withDisplay");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("help") << QStringList{"--help"} << false << 0 << "--port <path>";
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
    QFETCH(bool, withDisplay);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    const QString program = qEnvironmentVariable("ORVIK_MONITOR");
    QVERIFY2(QFileInfo(program).isExecutable(), "ORVIK_MONITOR must name the built program");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Help and version are answered without any display at all.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    if (withDisplay)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    else
        env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QTemporaryDir dir;
    process.setWorkingDirectory(dir.path());
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(20000));
    const QString text = QString::fromLocal8Bit(process.readAll());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(text.contains(output), qPrintable(text));
}

QTEST_MAIN(TestPortSelector)
#include "tst_port_selector.moc"
