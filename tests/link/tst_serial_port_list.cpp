// The list of serial ports from a fake kernel table.
#include "FakeTtyTable.h"
#include "link/SerialPortList.h"

#include <QtTest>

class TestSerialPortList : public QObject
{
    Q_OBJECT
private slots:
    void table_data();
    void table();
};

void TestSerialPortList::table_data()
{
    // Entries as name:driver:published type:type the probe reports (-1 or none: cannot be asked).
    QTest::addColumn<QString>("entries");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty table") << ""
                                 << "";
    QTest::newRow("no device behind any entry") << "console ptmx tty tty0 tty63"
                                                << "";
    // Nothing here can be opened (no rights on the devices): the published type alone decides.
    QTest::newRow("phantom 8250 ports left out, real ones kept unopened")
        << "ttyS0:serial8250:4 ttyS1:serial8250:0 ttyS2:serial8250:0 ttyS3:serial8250:4 tty1"
        << "ttyS0 ttyS3";
    QTest::newRow("serial-core ports of newer kernels") << "ttyS0:port:0:4 ttyS1:port:4:-1 ttyS2:port:0:4"
                                                        << "ttyS1";
    QTest::newRow("no published type: the port is asked")
        << "ttyS0:serial8250 ttyS1:serial8250::4 ttyS2:serial8250::0"
        << "ttyS1";
    // Only serial-core ports are asked: a USB adapter reports no UART type of its own.
    QTest::newRow("adapters are never asked")
        << "ttyUSB0:ftdi_sio::0 ttyACM0:cdc_acm::0 ttyAMA0:uart-pl011::0"
        << "ttyACM0 ttyAMA0 ttyUSB0";
    QTest::newRow("natural order")
        << "ttyUSB10:ch341 ttyS10:port::4 ttyUSB2:ch341 ttyS2:port::4 ttyS1:port:4 ttyS0:port:4 ttyUSB0:ch341"
        << "ttyS0 ttyS1 ttyS2 ttyS10 ttyUSB0 ttyUSB2 ttyUSB10";
}

void TestSerialPortList::table()
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

QTEST_GUILESS_MAIN(TestSerialPortList)
#include "tst_serial_port_list.moc"
