// The publisher against a real broker on loopback: retained state, a broker's crash, a refused login, TLS.
#include "journal/Event.h"
#include "journal/EventOutbox.h"
#include "mqtt/MqttDiscovery.h"
#include "mqtt/MqttPublisher.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>
#include <pwd.h>
#include <unistd.h>
// A throw-away EC key and certificate "<name>.key/.crt": a CA, or the loopback's signed by the CA "ca".
static bool certificate(const QTemporaryDir& dir, const QString& name, bool byCa)
{
    QString args = "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=%2";
    args += byCa ? " -CA %1/ca.crt -CAkey %1/ca.key -addext subjectAltName=IP:127.0.0.1,DNS:localhost" : "";
    QProcess p; // in a temporary folder, whose path has no blanks
    p.start("openssl", (args + " -keyout %1/%2.key -out %1/%2.crt").arg(dir.path(), name).split(' '));
    return p.waitForFinished(20000) && p.exitCode() == 0;
}
// A broker, its subscribers and a publisher on its own thread; every process is killed at the end.
struct Room
{
    QTemporaryDir dir;
    QTcpServer free; // holds a free port until the broker starts
    const QString port = QString::number((free.listen(QHostAddress::LocalHost), free.serverPort()));
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcess* broker = nullptr;
    QByteArray heard; // the subscribers' output, "topic payload" a line
    QThread thread;
    QObject here; // receives on the test's thread
    MqttPublisher* publisher = nullptr;
    QString status;
    QString caFile; // the publisher's; the subscribers trust "ca"
    const bool tls;
    explicit Room(bool tls = false) : tls(tls) // with TLS: the CAs "ca" and "other", the server's by "ca"
    {
        QFile conf(dir.filePath("conf"));
        const QString certs = "cafile %1/ca.crt\ncertfile %1/server.crt\nkeyfile %1/server.key\n";
        const bool made = tls && certificate(dir, "ca", false) && certificate(dir, "other", false) &&
                          certificate(dir, "server", true);
        conf.open(QIODevice::WriteOnly) &&
            conf.write(
                QString("listener %1 127.0.0.1\nallow_anonymous false\npassword_file %2\npersistence false\n"
                        "log_dest stderr\nuser %3\n%4") // as root too: the files are ours alone
                    .arg(port, dir.filePath("pw"), getpwuid(getuid())->pw_name,
                         made ? certs.arg(dir.path()) : "")
                    .toUtf8());
        QProcess::execute("mosquitto_passwd", {"-b", "-c", dir.filePath("pw"), "orvik", "secret"});
    }
    ~Room()
    {
        if (publisher)
            QMetaObject::invokeMethod(publisher, &MqttPublisher::stop, Qt::BlockingQueuedConnection);
        thread.quit(), thread.wait(), delete publisher;
        for (auto& p : processes)
            p->kill(), p->waitForFinished();
    }
    QProcess* run(const QString& program, const QStringList& args)
    {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(program, args);
        return processes.back().get();
    }
    bool start(const QString& password, bool subscribe) // the broker, a subscriber, the publisher
    {
        free.close();
        broker = run("mosquitto", {"-c", dir.filePath("conf")});
        broker->setReadChannel(QProcess::StandardError);
        while (!broker->readAll().contains(" running") && broker->waitForReadyRead(5000)) {
        }
        if (subscribe) {
            QProcess* p =
                run("stdbuf", {"-oL", "mosquitto_sub", "-d", "-h", "127.0.0.1", "-p", port, "-u", "orvik",
                               "-P", "secret", "-v", "-t", "orvik/#", "-t", "homeassistant/#"});
            QObject::connect(p, &QProcess::readyReadStandardOutput, &here,
                             [this, p] { heard += p->readAllStandardOutput(); });
            const int acks = heard.count("received SUBACK");
            if (!QTest::qWaitFor([&] { return heard.count("received SUBACK") > acks; }, 5000))
                return false;
        }
        if (password.isEmpty())
            return broker->state() == QProcess::Running;
        MqttPublisher::Config config{{"127.0.0.1", port.toInt(), caFile, "orvik", password, "test", {}, {}},
                                     "orvik/r",
                                     dir.filePath("outbox")};
        config.haDiscovery = true, config.roomName = "R";
        publisher = new MqttPublisher(config);
        publisher->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, publisher, &MqttPublisher::start);
        QObject::connect(publisher, &MqttPublisher::statusChanged, &here,
                         [this](const QString& s) { status = s; });
        thread.start();
        return broker->state() == QProcess::Running;
    }
    QByteArray retained(const QString& topic, int count) // as a new subscriber reads them
    {
        const QString args = "-v --retained-only -W 5 -C %1 -t %2 -h 127.0.0.1 -p %3 -u orvik -P secret";
        const QStringList ca{"--cafile", dir.filePath("ca.crt")};
        QProcess* p =
            run("mosquitto_sub", args.arg(count).arg(topic, port).split(' ') + (tls ? ca : QStringList()));
        p->waitForFinished(8000);
        return p->readAllStandardOutput();
    }
    void send(int count)
    {
        for (int i = 0; i < count; ++i)
            QMetaObject::invokeMethod(publisher, [p = publisher, i] {
                p->takeEvent(Event(i % 16, 0, 1, {}, 25, 13.5, 0, 0, true, false, 1, 1));
            });
    }
    QString disorder() const // events by "seq": repeats allowed, no gap, no reordering
    {
        int last = 0;
        for (const QByteArray& e : said("orvik/r/event")) {
            const int seq = QJsonDocument::fromJson(e).object().value("seq").toInt();
            if (seq > last + 1)
                return QString("%1 after %2").arg(seq).arg(last);
            last = qMax(last, seq);
        }
        return QString();
    }
    QList<QByteArray> said(const QByteArray& topic) const // the payloads on a topic, in order
    {
        QList<QByteArray> payloads;
        for (const QByteArray& line : heard.split('\n'))
            if (line.startsWith(topic + ' '))
                payloads.append(line.mid(topic.size() + 1));
        return payloads;
    }
};
class TestMqttBroker : public QObject
{
    Q_OBJECT
private slots:
    void retainedState() // a battery's and the summary's messages; a battery leaving its group is cleared
    {
        Room room;
        QVERIFY(room.start("secret", true));
        RoomSnapshot s;
        s.batteries[0] = {13.456, 24.46, 1, 1, 1, 2, false, false, false, {}};
        s.summary = {1, 0, 0, 2, true, false};
        QMetaObject::invokeMethod(room.publisher, [&room, s] { room.publisher->takeSnapshot(s); });
        QTRY_VERIFY_WITH_TIMEOUT(!room.said("orvik/r/summary").isEmpty(), 10000);
        const QJsonObject sum = QJsonDocument::fromJson(room.said("orvik/r/summary").last()).object();
        const QJsonObject b = QJsonDocument::fromJson(room.said("orvik/r/battery/00_1").value(0)).object();
        QVERIFY2(b.value("u") == 13.46 && b.value("t") == 24.5 && b.value("group") == 2, room.heard);
        QVERIFY(sum.value("comm_lost") == 2 && sum.value("mode") == "native");
        QCOMPARE(room.said("orvik/r/battery/00_2"), {"(null)"}); // in no group: an old message cleared
        using namespace MqttDiscovery;
        const Entry u = batterySensor("orvik/r", "R", 0, 'u'), t = batterySensor("orvik/r", "R", 0, 't');
        const QByteArray entries = room.retained("homeassistant/#", 3); // the battery's two and the alarm
        QVERIFY2(entries.contains(u.payload) && entries.contains(t.topic.toUtf8() + ' ' + t.payload) &&
                     entries.contains(alarmSensor("orvik/r", "R").payload),
                 entries);
        QCOMPARE(room.said(batterySensor("orvik/r", "R", 1, 't').topic.toUtf8()), {"(null)"});
        s.batteries[0].group = 0;
        QMetaObject::invokeMethod(room.publisher, [&room, s] { room.publisher->takeSnapshot(s); });
        QTRY_COMPARE(room.said("orvik/r/battery/00_1").size(), 2);
        QCOMPARE(room.said("orvik/r/battery/00_1").last(), "(null)");
        QTRY_COMPARE(room.said(u.topic.toUtf8()).last() + room.said(t.topic.toUtf8()).last(), "(null)(null)");
    }
    void eventsThroughBrokerCrash() // killed with events in flight and more while it is away
    {
        Room room;
        QVERIFY(room.start("secret", true));
        // The subscriber lives on: what it had received but not yet printed is not lost with it.
        QObject::connect(room.processes.back().get(), &QProcess::readyReadStandardOutput, &room.here,
                         [&room, broker = room.broker] {
                             if (room.said("orvik/r/event").size() >= 60)
                                 broker->kill();
                         });
        room.send(150);
        QTRY_VERIFY_WITH_TIMEOUT(room.broker->state() == QProcess::NotRunning, 10000);
        room.send(150);
        QTest::qWait(1500); // past the publisher's first attempt, so it finds the subscriber back
        QVERIFY(room.start(QString(), true));
        QTRY_VERIFY_WITH_TIMEOUT(room.heard.contains("\"seq\":300,"), 20000);
        QCOMPARE(room.disorder(), QString());
    }
    void restartWhileBrokerDown() // what one run took in reaches the broker through the next
    {
        Room room;
        QVERIFY(room.start("secret", true));
        room.broker->kill(), room.broker->waitForFinished();
        room.send(40);
        QMetaObject::invokeMethod(room.publisher, &MqttPublisher::stop, Qt::BlockingQueuedConnection);
        room.thread.quit(), room.thread.wait(), delete room.publisher;
        room.publisher = nullptr;
        QVERIFY(room.start("secret", true)); // the same outbox
        QTRY_VERIFY_WITH_TIMEOUT(room.heard.contains("\"seq\":40,"), 20000);
        QCOMPARE(room.disorder(), QString());
    }
    void refusedLogin() // the Russian reason, and the events stay in the outbox
    {
        Room room;
        QVERIFY(room.start("wrong", false));
        room.send(3);
        QTRY_COMPARE_WITH_TIMEOUT(room.status,
                                  QString("MQTT: брокер отклонил вход (неверное имя или пароль)"), 10000);
        QMetaObject::invokeMethod(room.publisher, &MqttPublisher::stop, Qt::BlockingQueuedConnection);
        EventOutbox box;
        QVERIFY(box.open(room.dir.filePath("outbox")));
        QCOMPARE(box.size(), 3);
    }
    void tls_data()
    {
        QTest::addColumn<bool>("itsCa");
        QTest::newRow("its CA") << true;
        QTest::newRow("another CA") << false;
    }
    void tls() // the publisher trusts the broker's certificate only by the CA it was given
    {
        QFETCH(bool, itsCa);
        Room room(true);
        room.caFile = room.dir.filePath(itsCa ? "ca.crt" : "other.crt");
        QVERIFY(room.start("secret", false));
        QTRY_VERIFY_WITH_TIMEOUT(room.status.startsWith(itsCa ? "MQTT: подключено" : "MQTT: ошибка TLS: "),
                                 10000);
        QVERIFY(!itsCa || room.retained("orvik/r/status", 1).contains("\"online\":1"));
    }
};

QTEST_MAIN(TestMqttBroker)
#include "tst_mqtt_broker.moc"
