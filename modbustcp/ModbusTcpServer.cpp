#include "modbustcp/ModbusTcpServer.h"

#include "modbustcp/ModbusTcpFrames.h"

#include <QDebug>
#include <QModbusTcpServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QVariant>

namespace {

constexpr quint8 thisServer = 255; // the Modbus TCP way of asking whoever answers

// Qt's own request path; never reached, as every byte is taken before Qt reads it, but it
// answers the same if it ever is.
class ReadOnlyServer : public QModbusTcpServer
{
public:
    const ModbusTcpImage* image = nullptr;

protected:
    QModbusResponse processRequest(const QModbusPdu& request) override
    {
        return ModbusTcpFrames::answer(QModbusRequest(request), *image);
    }
};

} // namespace

class ModbusTcpServer::Observer : public QModbusTcpConnectionObserver
{
public:
    explicit Observer(ModbusTcpServer* owner) : m_owner(owner) {}
    bool acceptNewConnection(QTcpSocket* socket) override { return m_owner->admit(socket); }

private:
    ModbusTcpServer* m_owner;
};

ModbusTcpServer::ModbusTcpServer(const Config& config, QObject* parent) : QObject(parent), m_config(config)
{
    qRegisterMetaType<RoomSnapshot>();
    m_image.registers[ModbusTcpImage::mode] = 0;
    for (int i = 0; i < RoomSnapshot::batteryCount; ++i) {
        m_image.registers[size_t(ModbusTcpImage::voltageBase + i)] = ModbusTcpImage::noVoltage;
        m_image.registers[size_t(ModbusTcpImage::temperatureBase + i)] =
            quint16(ModbusTcpImage::noTemperature);
    }
    for (int g = 0; g < RoomSnapshot::groupCount; ++g) {
        m_image.registers[size_t(ModbusTcpImage::groupVoltageBase + g)] = ModbusTcpImage::noVoltage;
        m_image.registers[size_t(ModbusTcpImage::groupTemperatureBase + g)] =
            quint16(ModbusTcpImage::noTemperature);
    }
}

ModbusTcpServer::~ModbusTcpServer() = default;

QString ModbusTcpServer::listenProblem() const
{
    const QHostAddress address(m_config.address);
    if (address.isNull())
        return QStringLiteral("адрес «%1» не распознан").arg(m_config.address);
    // A trial listen tells why in terms the operator can act on; Qt's server only says it failed.
    QTcpServer trial;
    if (trial.listen(address, quint16(m_config.port)))
        return QString();
    switch (trial.serverError()) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("порт занят другой программой");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("нет прав (порты ниже 1024 открывает только администратор)");
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("адрес %1 не принадлежит этому компьютеру").arg(m_config.address);
    default:
        return trial.errorString();
    }
}

void ModbusTcpServer::start()
{
    m_idleCheck = new QTimer(this);
    m_idleCheck->setInterval(1000);
    connect(m_idleCheck, &QTimer::timeout, this, &ModbusTcpServer::dropIdle);
    QString whyNot;
    if (!m_allow.parse(m_config.allow, &whyNot))
        return report(QStringLiteral("список допущенных адресов: ") + whyNot);
    const QString problem = listenProblem();
    if (!problem.isEmpty())
        return report(problem);
    auto* server = new ReadOnlyServer;
    server->image = &m_image;
    m_server = server;
    m_server->setParent(this);
    m_server->setServerAddress(m_config.unit);
    m_server->setConnectionParameter(QModbusDevice::NetworkAddressParameter, m_config.address);
    m_server->setConnectionParameter(QModbusDevice::NetworkPortParameter, m_config.port);
    m_observer = new Observer(this);
    m_server->installConnectionObserver(m_observer);
    connect(m_server, &QModbusTcpServer::modbusClientDisconnected, this, &ModbusTcpServer::forget);
    if (!m_server->connectDevice())
        return report(m_server->errorString());
    m_idleCheck->start();
    report();
}

void ModbusTcpServer::stop()
{
    if (m_idleCheck)
        m_idleCheck->stop();
    if (m_server)
        m_server->disconnectDevice();
    delete m_server;
    m_server = nullptr;
    m_clients.clear();
}

void ModbusTcpServer::takeSnapshot(const RoomSnapshot& snapshot)
{
    m_image = ModbusTcpImage::from(snapshot);
}

bool ModbusTcpServer::admit(QTcpSocket* socket)
{
    if (!m_allow.admits(socket->peerAddress()))
        return false;
    if (m_clients.size() >= m_config.maxClients) {
        // The one quiet the longest makes room.
        QTcpSocket* oldest = nullptr;
        qint64 longest = -1;
        for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
            if (it.value().quiet.elapsed() > longest)
                longest = it.value().quiet.elapsed(), oldest = it.key();
        if (oldest) {
            forget(oldest);
            oldest->abort();
        }
    }
    Client& client = m_clients[socket];
    client.quiet.start();
    // Connected before Qt's own reader, so the bytes are ours first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    report();
    return true;
}

void ModbusTcpServer::serve(QTcpSocket* socket)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end()) {
        socket->readAll();
        return;
    }
    Client& client = it.value();
    client.buffer.append(socket->readAll());
    ModbusTcpFrames::Frame frame;
    for (;;) {
        const ModbusTcpFrames::Take take = ModbusTcpFrames::takeFrame(client.buffer, &frame);
        if (take == ModbusTcpFrames::Take::NeedMore)
            return;
        if (take == ModbusTcpFrames::Take::Garbage) {
            forget(socket);
            socket->abort();
            return;
        }
        client.quiet.start();
        if (frame.unit != m_config.unit && frame.unit != thisServer)
            continue;
        socket->write(ModbusTcpFrames::respond(frame, ModbusTcpFrames::answer(frame.request, m_image)));
    }
}

void ModbusTcpServer::forget(QTcpSocket* socket)
{
    if (m_clients.remove(socket) > 0)
        report();
}

void ModbusTcpServer::dropIdle()
{
    QList<QTcpSocket*> idle;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
        if (it.value().quiet.hasExpired(qint64(m_config.idleSeconds) * 1000))
            idle.append(it.key());
    for (QTcpSocket* socket : qAsConst(idle)) {
        forget(socket);
        socket->abort();
    }
}

void ModbusTcpServer::report(const QString& failure)
{
    const QString text =
        failure.isEmpty()
            ? QStringLiteral("Modbus TCP: порт %1, клиентов: %2").arg(m_config.port).arg(m_clients.size())
            : QStringLiteral("Modbus TCP: порт %1 не открыт: %2").arg(m_config.port).arg(failure);
    if (text != m_status) {
        m_status = text;
        emit statusChanged(text);
    }
}
