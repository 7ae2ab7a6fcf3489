#include "app/MqttLink.h"

#include "app/RoomFeed.h"
#include "app/WorkerThread.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/MqttTopics.h"

#include <QDir>

namespace {

constexpr unsigned long stopWaitMs = 3000;

bool operator==(const Settings::Mqtt& a, const Settings::Mqtt& b)
{
    return a.enabled == b.enabled && a.host == b.host && a.port == b.port && a.tlsCa == b.tlsCa &&
           a.user == b.user && a.password == b.password && a.topic == b.topic &&
           a.haDiscovery == b.haDiscovery;
}

} // namespace

MqttLink::MqttLink(RoomFeed* feed, const QString& folder, QObject* parent)
    : QObject(parent), m_feed(feed), m_folder(folder)
{
}

MqttLink::~MqttLink()
{
    stop();
}

void MqttLink::apply(const Settings& settings)
{
    const Settings::Mqtt& mqtt = settings.mqtt();
    if (m_publisher && mqtt == m_mqtt && settings.roomName() == m_room)
        return;
    stop();
    m_mqtt = mqtt;
    m_room = settings.roomName();
    if (!mqtt.enabled || mqtt.host.trimmed().isEmpty()) {
        emit statusChanged(QString());
        return;
    }

    MqttPublisher::Config config;
    config.connection.host = mqtt.host.trimmed();
    config.connection.port = mqtt.port;
    config.connection.caFile = mqtt.tlsCa;
    config.connection.user = mqtt.user;
    config.connection.password = mqtt.password;
    config.base = MqttTopics::base(mqtt.topic, m_room);
    config.haDiscovery = mqtt.haDiscovery;
    config.roomName = m_room;
    config.outboxPath = QDir(m_folder).absoluteFilePath(QStringLiteral("mqtt-outbox.sqlite"));

    m_publisher = new MqttPublisher(config);
    connect(m_feed, &RoomFeed::sweepTaken, m_publisher, &MqttPublisher::takeSnapshot);
    connect(m_feed, &RoomFeed::eventTaken, m_publisher,
            [publisher = m_publisher](const Event& event, bool) { publisher->takeEvent(event); });
    connect(m_publisher, &MqttPublisher::statusChanged, this, &MqttLink::statusChanged);
    m_thread = WorkerThread::start(
        m_publisher, [publisher = m_publisher] { publisher->start(); }, this);
}

void MqttLink::stop()
{
    if (!m_publisher)
        return;
    // After every snapshot and event already handed over, so those reach the outbox; the clean
    // disconnect waits about a second.
    disconnect(m_feed, nullptr, m_publisher, nullptr);
    disconnect(m_publisher, nullptr, this, nullptr);
    WorkerThread::stop(
        m_thread, m_publisher, [publisher = m_publisher] { publisher->stop(); }, stopWaitMs);
    m_thread = nullptr;
    m_publisher = nullptr;
}
