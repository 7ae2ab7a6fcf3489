#pragma once

#include "config/Settings.h"

#include <QObject>
#include <QString>

class MqttPublisher;
class QThread;
class RoomFeed;

// Runs the room's MQTT publisher on a thread of its own while the settings ask for it, fed
// from the room's feed by queued connections: the window never waits on the broker.
class MqttLink : public QObject
{
    Q_OBJECT
public:
    // The outbox is kept in `folder` (the working folder, beside the history).
    MqttLink(RoomFeed* feed, const QString& folder, QObject* parent = nullptr);
    ~MqttLink() override;

    // Starts, restarts with the new settings, or stops the publisher; unchanged settings
    // leave a running one alone.
    void apply(const Settings& settings);
    bool isRunning() const { return m_publisher != nullptr; }

signals:
    // The connection's state in Russian; empty once publishing is off.
    void statusChanged(const QString& text);

private:
    void stop();

    RoomFeed* m_feed;
    QString m_folder;
    QThread* m_thread = nullptr;
    MqttPublisher* m_publisher = nullptr;
    Settings::Mqtt m_mqtt;
    QString m_room;
};
