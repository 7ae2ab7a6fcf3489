#pragma once

#include "config/ModbusTcpAllowList.h"
#include "core/RoomSnapshot.h"
#include "modbustcp/ModbusTcpImage.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

class QModbusTcpServer;
class QTcpSocket;
class QTimer;

// The read-only Modbus TCP server for the plant's SCADA. Lives on a thread of its own (the
// owner moves it there and calls start() from the thread's started signal, stop() before
// ending it); snapshots come by queued connection and replace the image whole.
//
// Qt's server listens and accepts; each admitted connection's bytes are taken here before Qt
// sees them, so that requests for this unit and for 255 ("this server") are answered and
// others are not, garbage closes the connection, and the number of connections stays bounded.
class ModbusTcpServer : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        QString address = QStringLiteral("0.0.0.0");
        int port = 1502;
        int unit = 1;
        QString allow;
        int maxClients = 16;
        int idleSeconds = 60;
    };

    explicit ModbusTcpServer(const Config& config, QObject* parent = nullptr);
    ~ModbusTcpServer() override;

    int clientCount() const { return m_clients.size(); }

public slots:
    void start();
    void stop();
    void takeSnapshot(const RoomSnapshot& snapshot);

signals:
    // "Modbus TCP: порт 1502, клиентов: N", or why the port is not open.
    void statusChanged(const QString& text);

private:
    class Observer;
    struct Client
    {
        QByteArray buffer;
        QElapsedTimer quiet; // since its last request
    };
    bool admit(QTcpSocket* socket);
    void serve(QTcpSocket* socket);
    void forget(QTcpSocket* socket);
    void dropIdle();
    void report(const QString& failure = QString());
    QString listenProblem() const;

    Config m_config;
    ModbusTcpAllowList m_allow;
    QModbusTcpServer* m_server = nullptr;
    Observer* m_observer = nullptr;
    QTimer* m_idleCheck = nullptr;
    QHash<QTcpSocket*, Client> m_clients;
    ModbusTcpImage m_image;
    QString m_status;
};
