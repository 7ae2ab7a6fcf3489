#include "app/ModbusTcpLink.h"

#include "app/RoomFeed.h"
#include "app/WorkerThread.h"
#include "modbustcp/ModbusTcpServer.h"

namespace {

bool operator==(const Settings::ModbusTcp& a, const Settings::ModbusTcp& b)
{
    return a.enabled == b.enabled && a.address == b.address && a.port == b.port && a.unit == b.unit &&
           a.allow == b.allow;
}

} // namespace

ModbusTcpLink::ModbusTcpLink(RoomFeed* feed, QObject* parent) : QObject(parent), m_feed(feed) {}

ModbusTcpLink::~ModbusTcpLink()
{
    stop();
}

void ModbusTcpLink::apply(const Settings& settings)
{
    const Settings::ModbusTcp& wanted = settings.modbusTcp();
    if (m_server && wanted == m_running)
        return;
    stop();
    m_running = wanted;
    if (!wanted.enabled) {
        emit statusChanged(QString());
        return;
    }
    ModbusTcpServer::Config config;
    config.address = wanted.address;
    config.port = wanted.port;
    config.unit = wanted.unit;
    config.allow = wanted.allow;
    m_server = new ModbusTcpServer(config);
    connect(m_feed, &RoomFeed::sweepTaken, m_server, &ModbusTcpServer::takeSnapshot);
    connect(m_server, &ModbusTcpServer::statusChanged, this, &ModbusTcpLink::statusChanged);
    m_thread = WorkerThread::start(
        m_server, [server = m_server] { server->start(); }, this);
}

void ModbusTcpLink::stop()
{
    if (!m_server)
        return;
    disconnect(m_feed, nullptr, m_server, nullptr);
    disconnect(m_server, nullptr, this, nullptr);
    WorkerThread::stop(
        m_thread, m_server, [server = m_server] { server->stop(); }, 3000);
    m_thread = nullptr;
    m_server = nullptr;
}
