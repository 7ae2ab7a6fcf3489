// The server on its own thread on a loopback port, read by mbpoll, pymodbus and raw sockets.
#include "modbustcp/ModbusTcpServer.h"
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
static RoomSnapshot room(quint32 sequence) // every battery different; the sequence also as group 1's mean
{
    RoomSnapshot s;
    for (int i = 0; i < RoomSnapshot::batteryCount; ++i)
        s.batteries[size_t(i)] = {2 + i * 0.37, i - 40.5,   i % 4,      0,          0,
                                  i % 7,        i % 2 == 1, i % 9 == 0, i % 5 == 0, i % 3 ? "" : "T<"};
    s.groups[0].meanVoltage = sequence / 100.0, s.sequence = sequence, s.summary = {1, 2, 3, 4, true, false};
    return s;
}
static const QString py = "import sys, time\nfrom pymodbus.client import ModbusTcpClient\n"
                          "c = ModbusTcpClient('127.0.0.1', port=int(sys.argv[1]), timeout=1, retries=0)\n"
                          "h = lambda a, n, u=1: c.read_holding_registers(a, n, slave=u)\nc.connect()\n"
                          "e = lambda r: r.exception_code\n";
class TestModbusTcpServer : public QObject
{
    Q_OBJECT
    QThread thread;
    ModbusTcpServer* server = nullptr;
    QTcpServer busy; // holds the port while it is to be taken
    QString status, port;
    void feed(quint32 n) { QMetaObject::invokeMethod(server, "takeSnapshot", Q_ARG(RoomSnapshot, room(n))); }
    QByteArray run(const QString& sent) // "4py": four at once while a snapshot comes every 10 ms
    {
        const QStringList command =
            sent.startsWith('m') ? sent.arg(port).split(' ')
                                 : QStringList{"/usr/bin/python3", "-c", py + QTest::currentDataTag(), port};
        std::vector<QProcess> ps(sent.startsWith('4') ? 4 : 1);
        for (QProcess& p : ps)
            p.start(command[0], command.mid(1));
        for (quint32 n = 2; n < 1500 && !ps.back().waitForFinished(ps.size() > 1 ? 10 : 15000); ++n)
            ps.size() > 1 ? feed(n) : ps.back().kill();
        QByteArrayList said;
        for (QProcess& p : ps)
            p.waitForFinished(3000), said << (p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
        return said.join(' ');
    }
    QByteArray exchange(const QString& hex, int ms) // heard until closed or `ms` pass / the status before
    {
        const QByteArray before = " /" + status.section(port, 1).toUtf8();
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QByteArray heard = s.waitForConnected(3000) ? "" : "not connected";
        s.write(QByteArray::fromHex(hex.toLatin1()));
        const bool closed = QTest::qWaitFor(
            [&] { return (heard += s.readAll().toHex(), s.state() != QTcpSocket::ConnectedState); }, ms);
        return heard + (closed ? " closed" : "") + before;
    }
private slots:
    void cleanup()
    {
        QMetaObject::invokeMethod(server, "stop", Qt::BlockingQueuedConnection), server->deleteLater();
        thread.quit(), thread.wait(), busy.close(), server = nullptr, status.clear();
    }
    void clients_data() // the allow list ("busy": the port taken), what is sent or run → what is heard
    {
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QString>("sent"); // hex; "py" / "4py": the row's name as Python, once / four at once
        QTest::addColumn<QByteArray>("expected"); // heard / the status before; or the end of what is printed
        const auto row = [](const char* name, const char* allow, const char* sent, QByteArray expected) {
            QTest::newRow(name) << QString(allow) << QString(sent) << expected;
        };
        const ModbusTcpImage image = ModbusTcpImage::from(room(1));
        QByteArrayList map; // the registers, then the discrete inputs
        for (int i = 0; i < ModbusTcpImage::registerCount + ModbusTcpImage::discreteCount; ++i)
            map << QByteArray::number(i < 531 ? image.registers[size_t(i)] : image.discrete[size_t(i - 531)]);
        const char* read = "000100000006010300010001"; // holding register 1
        row("then quiet", "", read, "00010000000501030200ed closed /, клиентов: 0");
        row("unit 255", "", "000200000006ff0300010001", "000200000005ff030200ed /, клиентов: 0");
        row("unit 7", "", "000300000006070300010001", " /, клиентов: 0");
        row("a browser", "", "474554202f20485454502f312e310d0a0d0a", " closed /, клиентов: 0");
        row("length 65535", "", "00010000ffff01", " closed /, клиентов: 0");
        row("silent", "", "", " closed /, клиентов: 0");
        row("admitted", "127.0.0.0/8", read, "00010000000501030200ed /, клиентов: 0");
        row("not admitted", "10.0.0.0/8, ::1", read, " closed /, клиентов: 0");
        row("crowd", "", read, "00010000000501030200ed /, клиентов: 16"); // after 40 at once
        row("port in use", "busy", read, " / не открыт: порт занят другой программой");
        row("bad list", "1/99", read,
            "not connected closed / не открыт: список допущенных адресов: "
            "«1/99» не адрес IPv4 или IPv6 и не диапазон вида 10.1.0.0/16");
        row("print(*sum((h(a, min(125, 531 - a)).registers for a in range(0, 531, 125)), []), *[int(b) for a"
            " in (0, 128) for b in c.read_discrete_inputs(a, 128, slave=1).bits])",
            "", "py", map.join(' '));
        row("print(e(c.write_registers(0, [5], slave=1)), e(h(531, 1)))", "", "py", "1 2");
        row("mbpoll", "", "mbpoll -t 3 -r 529 -c 3 -1 -p %1 127.0.0.1", "[529]: \t1\n[530]: \t1\n[531]: \t0");
        row("t, bad, seen = time.time(), 0, set()\nwhile time.time() - t < 2: r = h(406, 125).registers; bad "
            "+= r[106] != r[122]; seen.add(r[122])\nprint(bad, len(seen) > 20)",
            "", "4py", "0 True 0 True 0 True 0 True"); // never half a snapshot; each read new
    }
    void clients()
    {
        QFETCH(QString, allow);
        QFETCH(QString, sent);
        QFETCH(QByteArray, expected);
        const bool crowded = QByteArray(QTest::currentDataTag()) == "crowd", raw = !sent.contains('p');
        busy.listen(QHostAddress::LocalHost), port = QString::number(busy.serverPort());
        if (allow != "busy")
            busy.close();
        server = new ModbusTcpServer(
            {"127.0.0.1", port.toInt(), 1, allow == "busy" ? "" : allow, 16, crowded ? 60 : 1});
        server->moveToThread(&thread);
        connect(&thread, &QThread::started, server, &ModbusTcpServer::start);
        connect(server, &ModbusTcpServer::statusChanged, this, [this](const QString& s) { status = s; });
        thread.start();
        QVERIFY(QTest::qWaitFor([this] { return status.contains(port); }, 5000));
        feed(1);
        std::vector<QTcpSocket> crowd(crowded ? 40 : 0); // 16 stay open, and a new client is answered
        for (QTcpSocket& s : crowd)
            s.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QTRY_COMPARE(
            std::count_if(crowd.begin(), crowd.end(), [](auto& s) { return s.state() == s.ConnectedState; }),
            crowded ? 16L : 0L);
        const QByteArray said = raw ? exchange(sent, expected.contains("closed") ? 4000 : 900) : run(sent);
        QVERIFY2(raw ? said == expected : said.endsWith(expected), said);
    }
};

QTEST_MAIN(TestModbusTcpServer)
#include "tst_modbustcp_server.moc"
