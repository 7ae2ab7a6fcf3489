// The publisher against a real broker on loopback: retained state, a broker's crash, a refused login.
#include "journal/Event.h"
#include "mqtt/MqttOutbox.h"
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
    Room()
    {
        QFile conf(dir.filePath("conf"));
        conf.open(QIODevice::WriteOnly) &&
            conf.write(
                QString("listener %1 127.0.0.1\nallow_anonymous false\npassword_file %2\npersistence false\n"
                        "log_dest stderr\nuser %3\n") // as root too: the files are ours alone
                    .arg(port, dir.filePath("pw"), getpwuid(getuid())->pw_name)
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
            QProcess* p = run("stdbuf", {"-oL", "mosquitto_sub", "-d", "-h", "127.0.0.1", "-p", port, "-u",
                                         "orvik", "-P", "secret", "-v", "-t", "orvik/#"});
            QObject::connect(p, &QProcess::readyReadStandardOutput, &here,
                             [this, p] { heard += p->readAllStandardOutput(); });
            const int acks = heard.count("received SUBACK");
            if (!QTest::qWaitFor([&] { return heard.count("received SUBACK") > acks; }, 5000))
                return false;
        }
        if (password.isEmpty())
            return broker->state() == QProcess::Running;
        publisher = new MqttPublisher({{"127.0.0.1", port.toInt(), "", "orvik", password, "test", {}, {}},
                                       "orvik/r",
                                       dir.filePath("outbox")});
        publisher->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, publisher, &MqttPublisher::start);
        QObject::connect(publisher, &MqttPublisher::statusChanged, &here,
                         [this](const QString& s) { status = s; });
        thread.start();
        return broker->state() == QProcess::Running;
    }
    void send(int count)
    {
        for (int i = 0; i < count; ++i)
            QMetaObject::invokeMethod(publisher, [p = publisher, i] {
                p->takeEvent(Event(i % 16, 0, 1, {}, 25, 13.5, 0, 0, true, false, 1, 1));
            });
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
        s.batteries[0].group = 0;
        QMetaObject::invokeMethod(room.publisher, [&room, s] { room.publisher->takeSnapshot(s); });
        QTRY_COMPARE(room.said("orvik/r/battery/00_1").size(), 2);
        QCOMPARE(room.said("orvik/r/battery/00_1").last(), "(null)");
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
        int last = 0;
        for (const QByteArray& e : room.said("orvik/r/event")) { // repeats allowed, no gap, no reordering
            const int seq = QJsonDocument::fromJson(e).object().value("seq").toInt();
            QVERIFY2(seq <= last || seq == last + 1, qPrintable(QString("%1 after %2").arg(seq).arg(last)));
            last = qMax(last, seq);
        }
    }
    void refusedLogin() // the Russian reason, and the events stay in the outbox
    {
        Room room;
        QVERIFY(room.start("wrong", false));
        room.send(3);
        QTRY_COMPARE_WITH_TIMEOUT(room.status,
                                  QString("MQTT: брокер отклонил вход (неверное имя или пароль)"), 10000);
        QMetaObject::invokeMethod(room.publisher, &MqttPublisher::stop, Qt::BlockingQueuedConnection);
        MqttOutbox box;
        QVERIFY(box.open(room.dir.filePath("outbox")));
        QCOMPARE(box.size(), 3);
    }
};

QTEST_MAIN(TestMqttBroker)
#include "tst_mqtt_broker.moc"
