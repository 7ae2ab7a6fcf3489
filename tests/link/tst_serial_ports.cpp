// The serial ports from a fake kernel tty table, and the main window's port selector: the
// system's ports, then those named with --port.
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "link/SerialPortList.h"

#include <QComboBox>
#include <QtTest>

namespace {
// An entry folder per port, with a device and its driver link where a driver is named, and the
// UART type the kernel publishes.
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
    void table_data();
    void table();
    void selector_data();
    void selector();
};

void TestSerialPorts::table_data()
{
    // Entries as name:driver:published type:type the probe reports (-1 or none: cannot be asked).
    QTest::addColumn<QString>("entries");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no device behind any entry") << "console ptmx tty tty0 tty63"
                                                << "";
    // The published type alone decides: nothing here could be opened.
    QTest::newRow("phantom 8250 ports left out")
        << "ttyS0:serial8250:4 ttyS1:serial8250:0 ttyS3:serial8250:4 tty1"
        << "ttyS0 ttyS3";
    QTest::newRow("serial-core ports of newer kernels") << "ttyS0:port:0:4 ttyS1:port:4:-1"
                                                        << "ttyS1";
    QTest::newRow("no published type: the port is asked")
        << "ttyS0:serial8250 ttyS1:serial8250::4 ttyS2:port::0"
        << "ttyS1";
    // Only serial-core ports are asked: a USB adapter reports no UART type of its own.
    QTest::newRow("adapters are never asked")
        << "ttyUSB0:ftdi_sio::0 ttyACM0:cdc_acm::0 ttyAMA0:uart-pl011::0"
        << "ttyACM0 ttyAMA0 ttyUSB0";
    QTest::newRow("natural order") << "ttyUSB10:ch341 ttyS10:port::4 ttyUSB2:ch341 ttyS2:port::4 ttyS1:port:4"
                                   << "ttyS1 ttyS2 ttyS10 ttyUSB2 ttyUSB10";
}

void TestSerialPorts::table()
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

void TestSerialPorts::selector_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("stored"); // the port in settings.xml
    QTest::addColumn<QStringList>("items");
    QTest::newRow("extra after the system's, in the order given")
        << QStringList{"/tmp/sim", "/dev/pts/3", "ttyS7"} << ""
        << QStringList{"ttyUSB0", "/tmp/sim", "/dev/pts/3", "ttyS7"};
    QTest::newRow("a port listed once, the stored one selected")
        << QStringList{"/dev/ttyUSB0", "/tmp/a", "/tmp/a", "/tmp/b"} << "/tmp/b"
        << QStringList{"ttyUSB0", "/tmp/a", "/tmp/b"};
}

void TestSerialPorts::selector()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, stored);
    QFETCH(QStringList, items);
    FakeTtyTable table;
    QVERIFY(table.add("ttyUSB0", "cdc_acm"));
    MainWindow::serialPortTableRoot = table.root();
    MainWindow::extraComPorts = extra;
    WindowInFolder w(stored.isEmpty() ? QByteArray()
                                      : settingsWith("<com_port>" + stored.toUtf8() + "</com_port>\n"));
    MainWindow::extraComPorts.clear();
    MainWindow::serialPortTableRoot = "/sys/class/tty";
    const QComboBox* box = w.window->form()->cmb_com;
    QCOMPARE(box->count(), items.size());
    QCOMPARE(int(w.window->comPortList().size()), items.size());
    for (int i = 0; i < items.size(); ++i) {
        QCOMPARE(box->itemText(i), items[i]);
        QCOMPARE(w.window->comPortList()[size_t(i)]->portName(),
                 items[i].startsWith('/') ? items[i] : "/dev/" + items[i]);
    }
    QCOMPARE(box->currentIndex(), stored.isEmpty() ? 0 : items.indexOf(stored));
}

QTEST_MAIN(TestSerialPorts)
#include "tst_serial_ports.moc"
