// What the room publishes to an MQTT broker: topics, JSON bodies, and the events' outbox on disk.
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "journal/Event.h"
#include "mqtt/MqttOutbox.h"
#include "mqtt/MqttPayloads.h"
#include "mqtt/MqttTopics.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace MqttPayloads;
using namespace MqttTopics;

static const QDateTime at(QDate(2026, 12, 8), QTime(14, 5, 3), Qt::OffsetFromUTC, 3 * 3600);
static QByteArray alarm(bool started, bool confirmed, char limit = 0)
{
    Event e(5, 2, 2, at, 24.25, 15.006, -0.05, 1.125, started, confirmed, 1, 3);
    e.setLimit(limit, '>', 15);
    return event(e);
}
static QByteArray comm(Event::Kind kind, int address, bool confirmed)
{
    return event(Event::communication(kind, 5, address ? 2 : 0, address, at, confirmed));
}
// A topic, or a body: "key=value" fields (JSON, else a text) over a base, the last one counting.
static void row(const char* name, const QString& actual, const QString& base, const QString& fields)
{
    QJsonObject o;
    for (const QString& f : (base + ' ' + fields).split(' ', Qt::SkipEmptyParts)) {
        const QJsonArray v = QJsonDocument::fromJson(("[" + f.section('=', 1) + "]").toUtf8()).array();
        o.insert(f.section('=', 0, 0), v.isEmpty() ? QJsonValue(f.section('=', 1)) : v[0]);
    }
    QTest::newRow(name) << actual.toUtf8()
                        << (base.isNull() ? fields.toUtf8()
                                          : QJsonDocument(o).toJson(QJsonDocument::Compact));
}

class TestMqttCore : public QObject
{
    Q_OBJECT
private slots:
    void messages_data()
    {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QByteArray>("expected");
        row("battery topics", battery("b", 5, 2) + battery("b", 15, 7), {}, "b/battery/05_3b/battery/15_8");
        row("topics", group("", 6) + status("") + summary("") + MqttTopics::event(""), {},
            "/group/6/status/summary/event");
        row("room made one level", defaultBase(" Цех\t2/А+# "), {}, "orvik/Цех_2_А__");
        row("empty room, configured topic", base(" ", " ") + base(" b/a ", "r1"), {}, "orvik/roomb/a");
        static AlarmThresholds limits; // the voltage's emergency limit at 15 V
        limits.limits.value[AbsoluteLimits::VoltHighEmergency] = 15;
        static BatteryGroup g(2), empty(3);
        static Battery a(0, 5, 2), b(1, 5, 3), c(2, 5, 4);
        for (Battery* x : {&a, &b, &c})
            x->setThresholds(&limits), x->setGroup(&g), g.addBattery(x), x->setTemperature(24.25);
        a.setVoltage(15.006), b.setVoltage(13), c.setNoData(true), g.recalculate();
        a.updateState(), b.updateState();
        const QString t = "time=2026-12-08T11:05:03Z";
        const QString B = t + " u=13 t=24.3 state=1 u_state=1 t_state=1 group=2 confirmed=false "
                              "no_data=false comm_lost=false limit=null";
        const QString S = t + " warning=0 emergency=0 unconfirmed=0 comm_lost=0 polling=false mode=native";
        const QString A = t + " group=2 battery=05_3 kind=begin confirmed=false u=15.01 t=24.3 du=1.13 "
                              "dt=-0.1 u_state=3 t_state=1 limit=null limit_value=null";
        row("online", online(at), t, "online=1");
        row("offline", offline(), "", "online=0");
        row("at a limit, rounded", battery(a, false, at), B, "u=15.01 state=3 u_state=3 limit=U>");
        row("no data", battery(c, true, at), B,
            "u=null t=null state=0 u_state=0 t_state=0 no_data=true comm_lost=true");
        row("group", group(g, at), t, "u_mean=14 t_mean=24.3 members=3 with_data=2");
        row("group without data", group(empty, at), t, "u_mean=null t_mean=null members=0 with_data=0");
        row("summary", summary({}, at), S, "");
        row("summary modbus", summary({1, 2, 3, 4, true, true}, at), S,
            "warning=1 emergency=2 unconfirmed=3 comm_lost=4 polling=true mode=modbus");
        row("begin at a limit", alarm(true, false, 'U'), A, "limit=U> limit_value=15");
        row("end", alarm(false, false), A, "kind=end");
        row("confirm", alarm(true, true), A, "kind=confirm confirmed=true");
        const QString C = t + " group=0 battery=null confirmed=false";
        row("comm_lost", comm(Event::Kind::CommLost, 0, false), C, "kind=comm_lost module=5");
        row("comm_confirm", comm(Event::Kind::CommLost, 0, true), C,
            "kind=comm_confirm module=5 confirmed=true");
        row("comm_restored", comm(Event::Kind::CommRestored, 7, false), C,
            "kind=comm_restored group=2 address=7");
    }
    void messages() // bodies compact, the fields in the order QJsonDocument writes them
    {
        QFETCH(QByteArray, actual);
        QFETCH(QByteArray, expected);
        QCOMPARE(QJsonDocument::fromJson(actual).object(), QJsonDocument::fromJson(expected).object());
        QCOMPARE(actual, expected);
    }
    void outbox() // the bound, acknowledgements, the order across a restart, a damaged file
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("mqtt-outbox.sqlite");
        MqttOutbox box(3), again;
        QVERIFY(box.open(path) && box.append("a", "1") > 0 && box.append("b", "2") && box.append("c", "3"));
        QVERIFY(box.append("d", "4") && box.takeDroppedCount() == 1 && box.takeDroppedCount() == 0);
        QVERIFY(box.acknowledge(box.peek(1).value(0).id) && box.size() == 2);
        box.close();
        QVERIFY(again.open(path) && again.size() == 2 && again.append("e", "{}") > 4);
        const QVector<MqttOutbox::Message> m = again.peek(5);
        QCOMPARE(m.size() == 3 ? m[0].topic + m[1].topic + m[2].topic + m[0].payload + m[2].payload : "",
                 "cde3{}");
        again.close();
        QFile file(path); // damaged: set aside, a new one begun
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(8192, 'x')) && file.flush());
        QVERIFY(box.open(path) && box.errorText().contains("отложена в mqtt-outbox.sqlite.broken-"));
        QCOMPARE(QDir(dir.path()).entryList({"*.broken-*"}).size(), 1);
        QVERIFY(box.append("a", "1") > 0 && box.size() == 1 && box.peek(5).size() == 1);
    }
};

QTEST_MAIN(TestMqttCore)
#include "tst_mqtt_core.moc"
