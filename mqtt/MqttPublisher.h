#pragma once

#include "core/RoomSnapshot.h"
#include "journal/Event.h"
#include "journal/EventOutbox.h"
#include "mqtt/MqttConnection.h"

#include <QHash>
#include <QObject>

#include <bitset>
#include <memory>

// Publishes the room to an MQTT broker. Lives on a thread of its own (the owner moves it there
// and calls start() from the thread's started signal, stop() before ending it); snapshots and
// events come by queued connections, so nothing here ever waits on the GUI thread or it on us.
//
// Events go to the outbox on disk first and leave it only when the broker acknowledged them
// (QoS 1, at most `inFlight` unacknowledged at a time); after a reconnect they are sent again
// from the oldest unacknowledged, so a subscriber may see one twice and tells by "seq".
// Of the snapshots only the latest matters: one taken while disconnected waits for the connection.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        MqttConnection::Options connection; // will and client id are set from the base topic
        QString base;
        QString outboxPath;
        int outboxBound = EventOutbox::defaultBound;
        int inFlight = 20;
        bool haDiscovery = false; // Home Assistant's discovery entries
        QString roomName = {};    // the device's name there; empty: the base topic
    };

    explicit MqttPublisher(const Config& config, QObject* parent = nullptr);
    ~MqttPublisher() override;

public slots:
    void start();
    // Offline (retained) and a clean disconnect; the outbox keeps what is unacknowledged.
    void stop();
    void takeSnapshot(const RoomSnapshot& snapshot);
    // In journal order.
    void takeEvent(const Event& event);

signals:
    void statusChanged(const QString& text);

private:
    void onConnected();
    void onDisconnected();
    void onAcknowledged(int mid);
    void publishSnapshot();
    void announce(int battery, bool grouped);
    void sendEvents();
    void takeDropped();
    void report();

    Config m_config;
    std::unique_ptr<EventOutbox> m_outbox;
    std::unique_ptr<MqttConnection> m_connection;
    RoomSnapshot m_latest;
    bool m_haveSnapshot = false;
    std::bitset<RoomSnapshot::batteryCount> m_shown;     // batteries with a retained message
    std::bitset<RoomSnapshot::batteryCount> m_announced; // ... with discovery entries
    bool m_announceAll = false;                          // again, on a new connection
    QHash<int, qint64> m_inFlight;                       // message id -> outbox id
    qint64 m_lastSent = 0;
    QString m_status;
};
