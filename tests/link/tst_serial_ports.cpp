// The serial ports from a fake kernel tty table; the port selector: the system's, then --port's.
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "link/SerialPortList.h"

#include <QComboBox>
#include <QtTest>

namespace {
// An entry folder per port: device and driver link where a driver is named, the published UART type.
struct FakeTtyTable
{
    QTemporaryDir dir;
    QString root() const { return dir.filePath("class/tty"); }
    bool add(const QString& name, const QString& driver, const QString& type = QString())
    {
        const QDir base(dir.path());
        const QString entry = "class/tty/" + name, device = "devices/" + name;
        QFile attribute(base.filePath(entry + "/type"));
        return base.mkpath(entry) &&
               (type.isEmpty() ||
                (attribute.open(QIODevice::WriteOnly) && attribute.write(type.toLatin1()) > 0)) &&
               (driver.isEmpty() ||
                (base.mkpath(device) && base.mkpath("drivers/" + driver) &&
                 QFile::link(base.filePath(device), base.filePath(entry + "/device")) &&
                 QFile::link(base.filePath("drivers/" + driver), base.filePath(device + "/driver"))));
    }
};
} // namespace

class TestSerialPorts : public QObject
{
    Q_OBJECT
private slots:
    void table_data()
    {
        // Entries as name:driver:published type:type the probe reports (-1 or none: cannot be asked);
        // an entry without a device (tty1) is no port.
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("expected");
        // The published type alone decides: nothing here could be opened.
        QTest::newRow("phantom 8250 ports") << "ttyS0:serial8250:4 ttyS1:serial8250:0 ttyS3:serial8250:4 tty1"
                                            << "ttyS0 ttyS3";
        QTest::newRow("serial-core ports of newer kernels") << "ttyS0:port:0:4 ttyS1:port:4:-1"
                                                            << "ttyS1";
        QTest::newRow("no published type: asked") << "ttyS0:serial8250 ttyS1:serial8250::4 ttyS2:port::0"
                                                  << "ttyS1";
        // Only serial-core ports are asked: a USB adapter reports no UART type of its own.
        QTest::newRow("adapters never asked")
            << "ttyUSB0:ftdi_sio::0 ttyACM0:cdc_acm::0 ttyAMA0:uart-pl011::0"
            << "ttyACM0 ttyAMA0 ttyUSB0";
        QTest::newRow("natural order")
            << "ttyUSB10:ch341 ttyS10:port::4 ttyUSB2:ch341 ttyS2:port::4 ttyS1:port:4"
            << "ttyS1 ttyS2 ttyS10 ttyUSB2 ttyUSB10";
    }
    void table()
    {
        QFETCH(QString, entries);
        QFETCH(QString, expected);
        FakeTtyTable table;
        QMap<QString, int> types;
        QStringList published;
        for (const QString& entry : entries.split(' ', Qt::SkipEmptyParts)) {
            const QStringList f = entry.split(':') + QStringList{"", "", ""};
            QVERIFY(table.add(f[0], f[1], f[2]));
            types[f[0]] = f[3].isEmpty() ? -1 : f[3].toInt();
            published += f[2].isEmpty() ? QString() : f[0];
        }
        QStringList asked;
        const QStringList ports = listSerialPorts(table.root(), [&](const QString& name) {
            asked.append(name);
            return types.value(name, -1);
        });
        QCOMPARE(ports.join(' '), expected);
        // A port is opened to be asked only when the kernel publishes nothing about it.
        for (const QString& name : asked)
            QVERIFY2(!name.startsWith("ttyUSB") && !name.startsWith("ttyACM") && !published.contains(name),
                     qPrintable(name));
    }
    void selector_data()
    {
        // Ports in the table and stable names as link>target in a fake by-id folder (@ stands for it) |
        // --port paths | the stored port | the items, the selected one marked *.
        QTest::addColumn<QString>("row");
        // The extra ports after the system's, in the order given, each once.
        QTest::newRow("extra ports") << "ttyUSB0|/dev/ttyUSB0 /tmp/a /dev/pts/3 /tmp/a "
                                        "ttyS7|/dev/pts/3|ttyUSB0 /tmp/a */dev/pts/3 ttyS7";
        // Each adapter's stable names follow it; a link to no listed port is left out.
        QTest::newRow("stable names")
            << "ttyUSB0 ttyUSB1 usb-B_1-port0>ttyUSB1 usb-A_7-port0>ttyUSB0 usb-A_7-if01>ttyUSB0 "
               "gone>ttyUSB5|@/usb-A_7-port0|@/usb-B_1-port0|ttyUSB0 @/usb-A_7-if01 @/usb-A_7-port0 ttyUSB1 "
               "*@/usb-B_1-port0";
        QTest::newRow("stored name unplugged") << "ttyUSB0||@/usb-B_1-port0|*ttyUSB0";
    }
    void selector()
    {
        QFETCH(QString, row);
        FakeTtyTable table;
        const QString byId = table.dir.filePath("serial/by-id");
        const QStringList f = row.replace('@', byId).split('|');
        QVERIFY(QDir().mkpath(byId));
        for (const QString& e : f[0].split(' '))
            QVERIFY(e.contains('>')
                        ? QFile::link("../../" + e.section('>', 1), byId + '/' + e.section('>', 0, 0))
                        : table.add(e, "cdc_acm"));
        MainWindow::serialPortTableRoot = table.root();
        MainWindow::serialByIdRoot = byId;
        MainWindow::extraComPorts = f[1].split(' ', Qt::SkipEmptyParts);
        WindowInFolder w(settingsWith(("<com_port>" + f[2] + "</com_port>\n").toUtf8()));
        const QStringList expected = f[3].split(' ');
        const QComboBox* box = w.window->form()->cmb_com;
        QCOMPARE(box->count(), expected.size());
        QCOMPARE(int(w.window->comPortList().size()), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QString item = expected[i].startsWith('*') ? expected[i].mid(1) : expected[i];
            QCOMPARE(box->itemText(i), item);
            QCOMPARE(w.window->comPortList()[size_t(i)]->portName(),
                     item.startsWith('/') ? item : "/dev/" + item);
            if (expected[i].startsWith('*'))
                QCOMPARE(box->currentIndex(), i);
        }
        QCOMPARE(w.window->settingsRecord().comPort(), box->currentText());
    }
    void commandLine_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        // Help and version are answered without any display at all.
        QTest::newRow("help among ports") << "--port /tmp/x -h" << 0 << "--port <path>";
        QTest::newRow("version") << "--version" << 0 << "orvik-monitor " ORVIK_VERSION;
        QTest::newRow("unknown option") << "--bogus" << 1 << "Неизвестный параметр «bogus»";
    }
    void commandLine()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (exitCode)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(qEnvironmentVariable("ORVIK_MONITOR"), arguments.split(' '));
        QVERIFY2(process.waitForFinished(20000), "ORVIK_MONITOR must name the built program");
        const QString text = QString::fromLocal8Bit(process.readAll());
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && text.contains(output), qPrintable(text));
    }
};

QTEST_MAIN(TestSerialPorts)
#include "tst_serial_ports.moc"
