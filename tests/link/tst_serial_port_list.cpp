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
    void missingTable();
    void systemTable();
};

using Entry = QPair<QString, QString>; // name, driver
Q_DECLARE_METATYPE(QList<Entry>)

void TestSerialPortList::table_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    // The "type" attribute the kernel publishes per name; names not listed have none.
    QTest::addColumn<QVariantMap>("published");
    // UART type per name as the probe reports it; names not listed cannot be asked.
    QTest::addColumn<QVariantMap>("types");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty table") << QList<Entry>() << QVariantMap() << QVariantMap() << QStringList();
    QTest::newRow("no device behind any entry")
        << QList<Entry>{{"console", ""}, {"ptmx", ""}, {"tty", ""}, {"tty0", ""}, {"tty63", ""}}
        << QVariantMap() << QVariantMap() << QStringList();
    // Nothing here can be opened (no rights on the devices): the published type alone decides.
    QTest::newRow("phantom 8250 ports left out, real ones kept unopened")
        << QList<Entry>{{"ttyS0", "serial8250"},
                        {"ttyS1", "serial8250"},
                        {"ttyS2", "serial8250"},
                        {"ttyS3", "serial8250"},
                        {"tty1", ""}}
        << QVariantMap{{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS2", "0"}, {"ttyS3", "4"}} << QVariantMap()
        << QStringList{"ttyS0", "ttyS3"};
    QTest::newRow("serial-core ports of newer kernels")
        << QList<Entry>{{"ttyS0", "port"}, {"ttyS1", "port"}, {"ttyS2", "port"}}
        << QVariantMap{{"ttyS0", "0"}, {"ttyS1", "4"}, {"ttyS2", "0"}}
        << QVariantMap{{"ttyS0", 4}, {"ttyS1", -1}, {"ttyS2", 4}} << QStringList{"ttyS1"};
    QTest::newRow("no published type: the port is asked")
        << QList<Entry>{{"ttyS0", "serial8250"}, {"ttyS1", "serial8250"}, {"ttyS2", "serial8250"}}
        << QVariantMap() << QVariantMap{{"ttyS1", 4}, {"ttyS2", 0}} << QStringList{"ttyS1"};
    // Only serial-core ports are asked: a USB adapter reports no UART type of its own.
    QTest::newRow("adapters are never probed")
        << QList<Entry>{{"ttyUSB0", "ftdi_sio"}, {"ttyACM0", "cdc_acm"}, {"ttyAMA0", "uart-pl011"}}
        << QVariantMap() << QVariantMap{{"ttyUSB0", 0}, {"ttyACM0", 0}, {"ttyAMA0", 0}}
        << QStringList{"ttyACM0", "ttyAMA0", "ttyUSB0"};
    QTest::newRow("natural order")
        << QList<Entry>{{"ttyUSB10", "ch341"}, {"ttyS10", "port"}, {"ttyUSB2", "ch341"}, {"ttyS2", "port"},
                        {"ttyS1", "port"},     {"ttyS0", "port"},  {"ttyUSB0", "ch341"}}
        << QVariantMap{{"ttyS0", "4"}, {"ttyS1", "4"}} << QVariantMap{{"ttyS2", 4}, {"ttyS10", 4}}
        << QStringList{"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB2", "ttyUSB10"};
}

void TestSerialPortList::table()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(QVariantMap, published);
    QFETCH(QVariantMap, types);
    QFETCH(QStringList, expected);

    FakeTtyTable table;
    for (const Entry& e : entries)
        QVERIFY(table.add(e.first, e.second, published.value(e.first).toString()));
    QStringList asked;
    const SerialTypeProbe probe = [&](const QString& name) {
        asked.append(name);
        return types.contains(name) ? types.value(name).toInt() : -1;
    };
    const QStringList ports = listSerialPorts(table.root(), probe);
    QCOMPARE(ports, expected);
    // A port is opened to be asked only when the kernel publishes nothing about it.
    for (const QString& name : asked)
        QVERIFY2(!name.startsWith("ttyUSB") && !name.startsWith("ttyACM") && !published.contains(name),
                 qPrintable(name));
    // The same table gives the same list every time.
    QCOMPARE(listSerialPorts(table.root(), probe), ports);

    // Built in the reverse order, it is still listed the same.
    FakeTtyTable reversed;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        QVERIFY(reversed.add(it->first, it->second, published.value(it->first).toString()));
    QCOMPARE(listSerialPorts(reversed.root(), probe), ports);
}

void TestSerialPortList::missingTable()
{
    QCOMPARE(listSerialPorts(QStringLiteral("/nonexistent/class/tty"), probeSerialType), QStringList());
}

void TestSerialPortList::systemTable()
{
    // Whatever this machine has: names without "/dev/", each a device there.
    for (const QString& name : listSerialPorts()) {
        QVERIFY(!name.contains('/'));
        QVERIFY2(QFileInfo::exists("/dev/" + name), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestSerialPortList)
#include "tst_serial_port_list.moc"
