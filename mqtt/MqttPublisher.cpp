#include "mqtt/MqttPublisher.h"

#include "mqtt/MqttDiscovery.h"
#include "mqtt/MqttPayloads.h"
#include "mqtt/MqttTopics.h"

#include <QDebug>

namespace {

constexpr int closeWaitMs = 1000;

} // namespace

MqttPublisher::MqttPublisher(const Config& config, QObject* parent) : QObject(parent), m_config(config)
{
    m_config.connection.willTopic = MqttTopics::status(config.base);
    m_config.connection.willPayload = MqttPayloads::offline();
    // A battery ungrouped while the program was not running may still have a retained message:
    // the first snapshot clears every topic that is not a grouped battery's.
    m_shown.set();
    m_announced.set();
    // For the owner's queued connections.
    qRegisterMetaType<RoomSnapshot>();
    qRegisterMetaType<Event>();
}

MqttPublisher::~MqttPublisher() = default;

void MqttPublisher::start()
{
    // Made here, so the outbox's database connection and the timer belong to this thread.
    m_outbox = std::make_unique<EventOutbox>(m_config.outboxBound);
    if (!m_outbox->open(m_config.outboxPath) || !m_outbox->errorText().isEmpty())
        qWarning().noquote() << m_outbox->errorText();
    m_connection = std::make_unique<MqttConnection>(m_config.connection);
    connect(m_connection.get(), &MqttConnection::connected, this, &MqttPublisher::onConnected);
    connect(m_connection.get(), &MqttConnection::disconnected, this, &MqttPublisher::onDisconnected);
    connect(m_connection.get(), &MqttConnection::acknowledged, this, &MqttPublisher::onAcknowledged);
    m_connection->open();
    report();
}

void MqttPublisher::stop()
{
    if (m_connection && m_connection->isConnected())
        m_connection->publish(MqttTopics::status(m_config.base), MqttPayloads::offline(), 1, true);
    if (m_connection)
        m_connection->close(closeWaitMs);
    m_connection.reset();
    m_outbox.reset();
}

void MqttPublisher::takeSnapshot(const RoomSnapshot& snapshot)
{
    m_latest = snapshot;
    m_haveSnapshot = true;
    if (m_connection && m_connection->isConnected())
        publishSnapshot();
}

void MqttPublisher::takeEvent(const Event& event)
{
    if (!m_outbox)
        return;
    if (m_outbox->append(MqttTopics::event(m_config.base), MqttPayloads::event(event)) < 0)
        qWarning().noquote() << m_outbox->errorText();
    takeDropped();
    sendEvents();
    report();
}

void MqttPublisher::takeDropped()
{
    const int dropped = m_outbox->takeDroppedCount();
    if (dropped == 0)
        return;
    // One note where the gap is; its own append may drop one more, told by the next note.
    qWarning().noquote()
        << QStringLiteral("MQTT: очередь событий переполнена, старейших отброшено: %1").arg(dropped);
    m_outbox->append(MqttTopics::event(m_config.base),
                     MqttPayloads::droppedNote(dropped, QDateTime::currentDateTimeUtc()));
}

void MqttPublisher::onConnected()
{
    m_connection->publish(MqttTopics::status(m_config.base),
                          MqttPayloads::online(QDateTime::currentDateTimeUtc()), 1, true);
    if (m_config.haDiscovery) {
        const MqttDiscovery::Entry alarm = MqttDiscovery::alarmSensor(m_config.base, m_config.roomName);
        m_connection->publish(alarm.topic, alarm.payload, 1, true);
        m_announceAll = true;
    }
    if (m_haveSnapshot)
        publishSnapshot();
    m_inFlight.clear();
    m_lastSent = 0;
    sendEvents();
    report();
}

void MqttPublisher::onDisconnected()
{
    // What was in flight is sent again, from the oldest, on the next connection.
    m_inFlight.clear();
    m_lastSent = 0;
    report();
}

void MqttPublisher::onAcknowledged(int mid)
{
    const auto it = m_inFlight.constFind(mid);
    if (it == m_inFlight.constEnd())
        return;
    m_outbox->acknowledge(it.value());
    m_inFlight.erase(it);
    sendEvents();
    report();
}

void MqttPublisher::publishSnapshot()
{
    const QString& base = m_config.base;
    const RoomSnapshot& s = m_latest;
    for (int i = 0; i < RoomSnapshot::batteryCount; ++i) {
        const RoomSnapshot::BatteryEntry& b = s.batteries[size_t(i)];
        const QString topic = MqttTopics::battery(base, i / 8, i % 8);
        const bool grouped = b.group >= 1 && b.group <= RoomSnapshot::groupCount;
        if (m_config.haDiscovery)
            announce(i, grouped);
        if (grouped) {
            m_connection->publish(topic, MqttPayloads::battery(b, s.time), 0, true);
            m_shown.set(size_t(i));
        } else if (m_shown.test(size_t(i))) {
            // Left its group: the empty retained message takes its topic off the broker.
            if (m_connection->publish(topic, QByteArray(), 1, true) >= 0)
                m_shown.reset(size_t(i));
        }
    }
    for (int g = 1; g <= RoomSnapshot::groupCount; ++g)
        m_connection->publish(MqttTopics::group(base, g),
                              MqttPayloads::group(s.groups[size_t(g - 1)], s.time), 0, true);
    m_connection->publish(MqttTopics::summary(base), MqttPayloads::summary(s.summary, s.time), 0, true);
    m_announceAll = false;
}

void MqttPublisher::announce(int battery, bool grouped)
{
    // A battery leaving its group takes its entities out of Home Assistant with empty entries.
    if (grouped == m_announced.test(size_t(battery)) && !(grouped && m_announceAll))
        return;
    bool sent = true;
    for (const char quantity : {'u', 't'}) {
        const MqttDiscovery::Entry e =
            MqttDiscovery::batterySensor(m_config.base, m_config.roomName, battery, quantity);
        sent = m_connection->publish(e.topic, grouped ? e.payload : QByteArray(), 1, true) >= 0 && sent;
    }
    if (sent)
        m_announced.set(size_t(battery), grouped);
}

void MqttPublisher::sendEvents()
{
    if (!m_outbox || !m_connection || !m_connection->isConnected())
        return;
    int room = m_config.inFlight - m_inFlight.size();
    if (room <= 0)
        return;
    // Everything at or before m_lastSent still in the outbox is in flight.
    for (const EventOutbox::Message& m : m_outbox->peek(m_inFlight.size() + room)) {
        if (m.id <= m_lastSent)
            continue;
        if (room-- == 0)
            return;
        const int mid = m_connection->publish(m.topic, MqttPayloads::withSequence(m.payload, m.id), 1, false);
        if (mid < 0)
            return;
        m_inFlight.insert(mid, m.id);
        m_lastSent = m.id;
    }
}

void MqttPublisher::report()
{
    QString text;
    if (m_connection && m_connection->isConnected())
        text = QStringLiteral("MQTT: подключено");
    else if (m_connection && !m_connection->reason().isEmpty())
        text = m_connection->reason();
    else
        text = QStringLiteral("MQTT: нет связи с брокером, событий в очереди: %1")
                   .arg(m_outbox ? m_outbox->size() : 0);
    if (text != m_status) {
        m_status = text;
        emit statusChanged(text);
    }
}
