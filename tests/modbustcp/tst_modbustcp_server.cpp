// The server on its own thread on a loopback port, read by mbpoll, pymodbus and raw sockets.
#include "modbustcp/ModbusTcpServer.h"
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>
#include <memory>
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
                          "h = lambda a, n, u=1: c.read_holding_registers(a, n, slave=u)\nc.connect()\n";
class TestModbusTcpServer : public QObject
{
    Q_OBJECT
    QThread thread;
    ModbusTcpServer* server = nullptr;
    QTcpServer busy; // holds the port while it is to be taken
    QString status, port;
    void start(const QString& allow = "", bool occupied = false, int idleSeconds = 1)
    {
        busy.listen(QHostAddress::LocalHost), port = QString::number(busy.serverPort());
        if (!occupied)
            busy.close();
        server = new ModbusTcpServer({"127.0.0.1", port.toInt(), 1, allow, 16, idleSeconds});
        server->moveToThread(&thread);
        connect(&thread, &QThread::started, server, &ModbusTcpServer::start);
        connect(server, &ModbusTcpServer::statusChanged, this, [this](const QString& s) { status = s; });
        thread.start();
        QVERIFY(QTest::qWaitFor([this] { return status.contains(port); }, 5000));
        feed(room(1));
    }
    void feed(const RoomSnapshot& s)
    {
        QMetaObject::invokeMethod(server, [s, t = server] { t->takeSnapshot(s); });
    }
    QByteArray run(const QString& program, const QString& args)
    {
        QProcess p;
        p.start(program,
                args == "py" ? QStringList{"-c", py + QTest::currentDataTag(), port} : args.split(' '));
        if (!p.waitForFinished(15000))
            p.kill(), p.waitForFinished(1000);
        return (p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
    }
    QByteArray exchange(const QByteArray& bytes, int ms) // what a client hears until closed or `ms` pass
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QByteArray heard = s.waitForConnected(3000) && s.write(bytes) >= 0 ? "" : "not connected";
        const bool closed = QTest::qWaitFor(
            [&] { return (heard += s.readAll().toHex(), s.state() != QTcpSocket::ConnectedState); }, ms);
        return heard + (closed ? " closed" : "");
    }
private slots:
    void cleanup()
    {
        if (server)
            QMetaObject::invokeMethod(
                server, [t = server] { t->stop(), delete t; }, Qt::BlockingQueuedConnection);
        thread.quit(), thread.wait(), busy.close(), server = nullptr, status.clear();
    }
    void snapshots() // four clients while a snapshot comes every 10 ms: never half of one, each next read new
    {
        start();
        std::vector<std::unique_ptr<QProcess>> readers;
        for (int i = 0; i < 4; ++i) {
            readers.push_back(std::make_unique<QProcess>());
            readers.back()->start(
                "/usr/bin/python3",
                {"-c",
                 py + "t, bad, seen = time.time(), 0, set()\n"
                      "while time.time() - t < 2:\n r = h(406, 125).registers\n bad += r[106] != r[122]\n"
                      " seen.add(r[122])\nprint(bad, len(seen) > 20)",
                 port});
        }
        quint32 sequence = 1;
        const auto done = [&] {
            return std::all_of(readers.begin(), readers.end(),
                               [](auto& p) { return p->state() == QProcess::NotRunning; });
        };
        while (!done() && sequence < 1500)
            feed(room(++sequence)), QTest::qWait(10);
        QVERIFY(done());
        for (auto& p : readers)
            QCOMPARE(p->readAll().trimmed(), "0 True");
        feed(room(4321));
        const QString args = "-m tcp -t 3 -r %1 -c 1 -1 -p %2 127.0.0.1";
        QVERIFY(run("mbpoll", args.arg(513).arg(port)).endsWith("\t4321"));
        QVERIFY(run("mbpoll", args.arg(529).arg(port)).endsWith("\t4321"));
    }
    void connections_data() // the allow list ("busy": the port taken), bytes sent, the wait → heard / status
    {
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* allow, const char* bytes, int ms,
                            const char* expected) {
            QTest::newRow(name) << QString(allow) << QByteArray::fromHex(bytes) << ms << QString(expected);
        };
        const char* read = "000100000006010300010001"; // holding register 1
        row("a read", "", read, 900, "00010000000501030200ed /, клиентов: 0");
        row("then quiet", "", read, 4000, "00010000000501030200ed closed /, клиентов: 0");
        row("unit 255", "", "000200000006ff0300010001", 900, "000200000005ff030200ed /, клиентов: 0");
        row("unit 7", "", "000300000006070300010001", 900, " /, клиентов: 0");
        row("random bytes", "", "", 900, " closed /, клиентов: 0");
        row("length 65535", "", "00010000ffff01", 900, " closed /, клиентов: 0");
        row("silent", "", "", 4000, " closed /, клиентов: 0");
        row("admitted", "127.0.0.0/8", read, 900, "00010000000501030200ed /, клиентов: 0");
        row("not admitted", "10.0.0.0/8, ::1", read, 900, " closed /, клиентов: 0");
        row("port in use", "busy", read, 900, " / не открыт: порт занят другой программой");
        row("bad list", "10.0.0.0/99", read, 900,
            "not connected closed / не открыт: список допущенных адресов: "
            "«10.0.0.0/99» не адрес IPv4 или IPv6 и не диапазон вида 10.1.0.0/16");
    }
    void connections()
    {
        QFETCH(QString, allow);
        QFETCH(QByteArray, bytes);
        QFETCH(int, ms);
        QFETCH(QString, expected);
        start(allow == "busy" ? "" : allow, allow == "busy");
        const QString before = status.section(port, 1);
        if (QByteArray(QTest::currentDataTag()) == "random bytes") // never protocol 0
            bytes.resize(64),
                QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 16),
                bytes[2] = 1;
        QCOMPARE(exchange(bytes, ms) + " /" + before, expected);
    }
    void crowd() // 40 connections at once: 16 stay open, and a new client is answered
    {
        start("", false, 60);
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i < 40; ++i)
            crowd.push_back(std::make_unique<QTcpSocket>()),
                crowd.back()->connectToHost(QHostAddress::LocalHost, port.toUShort());
        const auto open = [&] {
            return std::count_if(crowd.begin(), crowd.end(),
                                 [](auto& s) { return s->state() == QTcpSocket::ConnectedState; });
        };
        QVERIFY(QTest::qWaitFor([&] { return status.endsWith("клиентов: 16") && open() == 16; }, 5000));
        QCOMPARE(exchange(QByteArray::fromHex("000100000006010300010001"), 900), "00010000000501030200ed");
    }
    void clients_data() // the Python to run (as the row's name) or mbpoll's arguments → what it prints
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("expected");
        const ModbusTcpImage image = ModbusTcpImage::from(room(1));
        QByteArrayList registers, inputs;
        for (quint16 r : image.registers)
            registers << QByteArray::number(r);
        for (int i = 0; i < ModbusTcpImage::discreteCount; ++i)
            inputs << QByteArray::number(int(image.discrete[size_t(i)]));
        const QByteArray all = registers.join(' ');
        const auto row = [](const char* name, const char* args, const QByteArray& expected) {
            QTest::newRow(name) << QString(args) << expected;
        };
        row("print(*sum((h(a, min(125, 531 - a)).registers for a in range(0, 531, 125)), []))", "py", all);
        row("print(*sum((c.read_input_registers(a, min(125, 531 - a), slave=1).registers for a in range(0, "
            "531, "
            "125)), []))",
            "py", all);
        row("print(*[int(b) for a in (0, 128) for b in c.read_discrete_inputs(a, 128, slave=1).bits])", "py",
            inputs.join(' '));
        row("print(c.write_register(0, 5, slave=1).exception_code, h(531, 1).exception_code)", "py", "1 2");
        row("print(c.write_registers(0, [5, 6], slave=255).exception_code)", "py", "1");
        row("print(h(1, 2, 255).registers, h(0, 1, 7).isError())", "py", "[237, 274] True");
        row("mbpoll", "-m tcp -a 1 -t 4 -r 530 -c 2 -1 -p %1 127.0.0.1", "[530]: \t1\n[531]: \t0");
    }
    void clients()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, expected);
        start();
        const QByteArray said = args == "py" ? run("/usr/bin/python3", args) : run("mbpoll", args.arg(port));
        QVERIFY2(said.endsWith(expected), said);
    }
};

QTEST_MAIN(TestModbusTcpServer)
#include "tst_modbustcp_server.moc"
