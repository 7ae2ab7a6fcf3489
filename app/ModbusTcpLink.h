#pragma once

#include "config/Settings.h"

#include <QObject>

class ModbusTcpServer;
class QThread;
class RoomFeed;

// Runs the read-only Modbus TCP server on a thread of its own while the settings ask for it,
// its register image fed from the room's feed once a sweep.
class ModbusTcpLink : public QObject
{
    Q_OBJECT
public:
    explicit ModbusTcpLink(RoomFeed* feed, QObject* parent = nullptr);
    ~ModbusTcpLink() override;

    // Starts, restarts with the new settings, or stops the server.
    void apply(const Settings& settings);

signals:
    // The port and the number of clients, or why the port is not open; empty once off.
    void statusChanged(const QString& text);

private:
    void stop();

    RoomFeed* m_feed;
    QThread* m_thread = nullptr;
    ModbusTcpServer* m_server = nullptr;
    Settings::ModbusTcp m_running;
};
