#include "app/MqttLink.h"

#include "app/RoomFeed.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/MqttTopics.h"

#include <QDir>
#include <QThread>

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

    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("mqtt"));
    m_publisher = new MqttPublisher(config);
    m_publisher->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_publisher, &MqttPublisher::start);
    connect(m_feed, &RoomFeed::sweepTaken, m_publisher, &MqttPublisher::takeSnapshot);
    connect(m_feed, &RoomFeed::eventTaken, m_publisher,
            [publisher = m_publisher](const Event& event, bool) { publisher->takeEvent(event); });
    connect(m_publisher, &MqttPublisher::statusChanged, this, &MqttLink::statusChanged);
    m_thread->start();
}

void MqttLink::stop()
{
    if (!m_publisher)
        return;
    // Queued after every snapshot and event already handed over, so those reach the outbox;
    // the clean disconnect waits about a second at most.
    disconnect(m_feed, nullptr, m_publisher, nullptr);
    disconnect(m_publisher, nullptr, this, nullptr);
    QThread* thread = m_thread;
    MqttPublisher* publisher = m_publisher;
    m_thread = nullptr;
    m_publisher = nullptr;
    QMetaObject::invokeMethod(publisher, [publisher, thread] {
        publisher->stop();
        thread->quit();
    });
    if (thread->wait(stopWaitMs)) {
        delete publisher;
        delete thread;
        return;
    }
    // Stuck resolving the broker's name: the window does not wait for it; the thread ends
    // and cleans up by itself when the resolver gives up.
    thread->setParent(nullptr);
    connect(thread, &QThread::finished, publisher, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}
