// What the room publishes to an MQTT broker: topics, JSON bodies, and the events' outbox on disk.
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/CommLossTracker.h"
#include "core/RoomSnapshot.h"
#include "journal/Event.h"
#include "journal/EventOutbox.h"
#include "mqtt/MqttDiscovery.h"
#include "mqtt/MqttPayloads.h"
#include "mqtt/MqttTopics.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
using namespace MqttPayloads;
using namespace MqttTopics;
using namespace MqttDiscovery;
Q_DECLARE_METATYPE(MqttDiscovery::Entry)
static const QDateTime at(QDate(2026, 12, 8), QTime(14, 5, 3), Qt::OffsetFromUTC, 3 * 3600);
static QByteArray alarm(bool started, bool confirmed, char limit = 0)
{
    Event e(5, 2, 2, at, 24.25, 15.006, -0.05, 1.125, started, confirmed, 1, 3);
    return event((e.setLimit(limit, '>', 15), e));
}
static QByteArray comm(bool lost, int address, bool confirmed)
{
    const Event::Kind kind = lost ? Event::Kind::CommLost : Event::Kind::CommRestored;
    return event(Event::communication(kind, 5, address ? 2 : 0, address, at, confirmed));
}
static void row(const char* name, const QString& actual, const QString& base, const QString& fields)
{
    QJsonObject o;
    for (const QString& f : (base + ' ' + fields).split(' ', Qt::SkipEmptyParts)) {
        const QJsonValue v = QJsonDocument::fromJson(("[" + f.section('=', 1) + "]").toUtf8()).array()[0];
        o.insert(f.section('=', 0, 0), v.isUndefined() ? QJsonValue(f.section('=', 1)) : v);
    }
    QTest::newRow(name) << actual.toUtf8() << QJsonDocument(o).toJson(QJsonDocument::Compact);
}
static void field(const char* name, const Entry& e, const QString& key, const QString& expected)
{
    QTest::newRow(name) << e << key << expected;
}
class TestMqttCore : public QObject
{
    Q_OBJECT
private slots:
    void topics() // the room's name made one topic level; without a name; a configured base topic
    {
        QCOMPARE(battery("", 5, 2) + battery("", 15, 7), "/battery/05_3/battery/15_8");
        QCOMPARE(group("", 6) + status("") + summary("") + base(" b/a ", "r"), "/group/6/status/summaryb/a");
        QCOMPARE(defaultBase(" a\tb/c+# ") + base(" ", "") + MqttTopics::event(""),
                 "orvik/a_b_c__orvik/room/event");
    }
    void messages_data() // bodies: "key=value" fields (JSON, else a text) over a base, the last counting
    {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QByteArray>("expected");
        static AlarmThresholds limits; // the voltage's emergency limit at 15 V
        limits.limits.value[AbsoluteLimits::VoltHighEmergency] = 15;
        static BatteryGroup g(2);
        static Battery a(0, 5, 2), c(2, 6, 4);
        a.setThresholds(&limits), a.setGroup(&g), c.setGroup(&g), g.addBattery(&a), g.addBattery(&c);
        a.setVoltage(15.006), a.setTemperature(24.25), c.setNoData(true), g.recalculate(), a.updateState();
        CommLossTracker lost(16); // c's module
        lost.setWatched(6, true), lost.markLost(6);
        const RoomSnapshot s = RoomSnapshot::take({{&a, &c}}, {&g}, lost, false, false, at);
        const QString t = "time=2026-12-08T11:05:03Z", C = t + " group=0 battery=null confirmed=false";
        const QString B = t + " u=15.01 t=24.3 state=3 u_state=3 t_state=1 group=2 confirmed=false "
                              "no_data=false comm_lost=false limit=null";
        const QString A = t + " group=2 battery=05_3 kind=begin confirmed=false u=15.01 t=24.3 du=1.13 "
                              "dt=-0.1 u_state=3 t_state=1 limit=null limit_value=null";
        row("at a limit, rounded", battery(s.batteries[42], at), B, "limit=U>");
        row("no data", battery(s.batteries[52], at), B,
            "u=null t=null state=0 u_state=0 t_state=0 no_data=true comm_lost=true");
        row("group", group(s.groups[1], at), t, "u_mean=15.01 t_mean=24.3 members=2 with_data=1");
        row("summary", summary({1, 2, 3, 4, false, true}, at), t,
            "warning=1 emergency=2 unconfirmed=3 comm_lost=4 polling=false mode=modbus");
        row("summary counted", summary(s.summary, at), t,
            "warning=0 emergency=1 unconfirmed=1 comm_lost=1 polling=false mode=native");
        row("begin at a limit", alarm(true, false, 'U'), A, "limit=U> limit_value=15");
        row("end", alarm(false, false), A, "kind=end");
        row("confirm", alarm(true, true), A, "kind=confirm confirmed=true");
        row("comm_lost", comm(true, 0, false), C, "kind=comm_lost module=5");
        row("comm_confirm", comm(true, 0, true), C, "kind=comm_confirm module=5 confirmed=true");
        row("comm_restored", comm(false, 7, false), C, "kind=comm_restored group=2 address=7");
    }
    void messages() // compact, the fields in the order QJsonDocument writes them
    {
        QFETCH(QByteArray, actual);
        QFETCH(QByteArray, expected);
        QCOMPARE(actual, expected);
    }
    void discovery_data() // an entry's topic, or a field of its JSON (objects compact)
    {
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const Entry u = batterySensor("o/Зал", "A", 42, 'u'), t = batterySensor("o/Зал", "A", 42, 't');
        const Entry a = alarmSensor("o/Зал", "");
        field("topic", u, "topic", "homeassistant/sensor/o_____7668b832/battery_05_3_u/config");
        field("other room", batterySensor("o/Щит", "", 42, 'u'), "unique_id",
              "o_____e1f5afcd_battery_05_3_u");
        field("name", u, "name", "МСД 05 МКП 3 напряжение");
        field("state_topic", u, "state_topic", "o/Зал/battery/05_3");
        field("u", u, "value_template", "{{ value_json.u }}");
        field("°C", t, "unit_of_measurement", "°C");
        field("unique_id", t, "unique_id", "o_____7668b832_battery_05_3_t");
        field("availability", u, "availability_topic", "o/Зал/status");
        field("device", u, "device", R"({"identifiers":["o_____7668b832"],"name":"A"})");
        field("alarm", a, "topic", "homeassistant/binary_sensor/o_____7668b832/alarm/config");
        field("alarm on", a, "value_template",
              "{{ 'ON' if value_json.warning + value_json.emergency > 0 else 'OFF' }}");
        field("online", a, "availability_template", "{{ value_json.online }}");
    }
    void discovery()
    {
        QFETCH(Entry, entry);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QJsonValue v = QJsonDocument::fromJson(entry.payload).object().value(key);
        const QString json = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
        QCOMPARE(key == "topic" ? entry.topic : v.isString() ? v.toString() : json, expected);
    }
    void outbox() // the bound, acknowledgements, the order across a restart, a damaged file
    {
        QTemporaryDir dir;
        EventOutbox box(3);
        QVERIFY(box.open(dir.filePath("o")) && box.append("a", "1") > 0 && box.append("b", "2"));
        QVERIFY(box.append("c", "3") && box.append("d", "4") && box.takeDroppedCount() == 1);
        QVERIFY(box.takeDroppedCount() == 0 && box.acknowledge(box.peek(1).value(0).id) && box.size() == 2);
        QVERIFY(box.open(dir.filePath("o")) && box.size() == 2 && box.append("e", "{}") > 4);
        QCOMPARE(box.peek(1).value(0).topic + box.peek(5).value(2).topic, "ce");
        box.close();
        QVERIFY(QFile::resize(dir.filePath("o"), 1000)); // damaged: set aside, a new one begun
        QVERIFY(box.open(dir.filePath("o")) && box.errorText().contains("отложена в o.broken-"));
        QVERIFY(box.append("a", "1") > 0 && box.size() == 1);
    }
};

QTEST_MAIN(TestMqttCore)
#include "tst_mqtt_core.moc"
