#include "mqtt/MqttConnection.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QTimer>

#include <mosquitto.h>

#include <mutex>

namespace {

constexpr int keepAliveSeconds = 30;
constexpr int loopIntervalMs = 25;
constexpr int longestBackoffMs = 60000;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QByteArray utf8OrNull(const QString& text)
{
    return text.isEmpty() ? QByteArray() : text.toUtf8();
}

} // namespace

MqttConnection::MqttConnection(const Options& options, QObject* parent)
    : QObject(parent), m_options(options), m_loop(new QTimer(this))
{
    initLibrary();
    m_loop->setInterval(loopIntervalMs);
    connect(m_loop, &QTimer::timeout, this, &MqttConnection::tick);
}

MqttConnection::~MqttConnection()
{
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

void MqttConnection::open()
{
    m_state = State::Waiting;
    m_retryAt = 0;
    m_loop->start();
    tick();
}

int MqttConnection::renew()
{
    // A fresh client each attempt: libmosquitto would otherwise send its own copies of the
    // unacknowledged messages again, while the owner sends them again from its outbox.
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    // No id: the library makes a random one (it refuses an empty one).
    const QByteArray id = utf8OrNull(m_options.clientId);
    m_mosq = mosquitto_new(id.isNull() ? nullptr : id.constData(), true, this);
    if (!m_mosq)
        return MOSQ_ERR_NOMEM;
    mosquitto_connect_callback_set(m_mosq, &MqttConnection::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttConnection::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttConnection::onPublish);
    const QByteArray will = m_options.willTopic.toUtf8(), user = utf8OrNull(m_options.user),
                     password = utf8OrNull(m_options.password);
    mosquitto_will_set(m_mosq, will.constData(), m_options.willPayload.size(),
                       m_options.willPayload.constData(), 1, true);
    if (!user.isEmpty())
        mosquitto_username_pw_set(m_mosq, user.constData(),
                                  password.isNull() ? nullptr : password.constData());
    if (m_options.caFile.isEmpty())
        return MOSQ_ERR_SUCCESS;
    const int rc = mosquitto_tls_set(m_mosq, m_options.caFile.toLocal8Bit().constData(), nullptr, nullptr,
                                     nullptr, nullptr);
    return rc == MOSQ_ERR_SUCCESS ? rc : MOSQ_ERR_TLS;
}

void MqttConnection::attempt()
{
    int rc = renew();
    // The host's name is resolved here, blocking this thread (never the GUI's) for a moment.
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect_async(m_mosq, m_options.host.toUtf8().constData(), m_options.port,
                                     keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        return lost(rc);
    m_state = State::Connecting;
    m_connectingSince = QDateTime::currentMSecsSinceEpoch();
}

void MqttConnection::tick()
{
    if (m_state == State::Waiting) {
        if (QDateTime::currentMSecsSinceEpoch() >= m_retryAt)
            attempt();
        return;
    }
    if (m_state == State::Idle)
        return;
    const int rc = mosquitto_loop(m_mosq, 0, 1);
    if (rc != MOSQ_ERR_SUCCESS && m_state != State::Waiting)
        lost(rc);
    // A host that never answers: the next attempt closes this socket.
    else if (m_state == State::Connecting &&
             QDateTime::currentMSecsSinceEpoch() - m_connectingSince > keepAliveSeconds * 1000)
        lost(MOSQ_ERR_TIMEOUT);
}

void MqttConnection::lost(int rc)
{
    if (rc == MOSQ_ERR_EAI)
        m_reason = QStringLiteral("MQTT: адрес брокера не найден: %1").arg(m_options.host);
    else if (rc == MOSQ_ERR_TLS)
        m_reason = QStringLiteral("MQTT: ошибка TLS: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
    else if (rc != MOSQ_ERR_CONN_REFUSED)
        m_reason.clear(); // a refusal keeps the reason its answer gave
    const bool wasConnected = m_state == State::Connected;
    m_state = State::Waiting;
    m_retryAt = QDateTime::currentMSecsSinceEpoch() + m_backoffMs;
    m_backoffMs = qMin(m_backoffMs * 2, longestBackoffMs);
    if (wasConnected || rc != MOSQ_ERR_SUCCESS)
        emit disconnected();
}

void MqttConnection::close(int msecs)
{
    if (m_state == State::Connected) {
        // The last publication's acknowledgement says everything before it is out.
        const QDeadlineTimer deadline(msecs);
        while (m_pendingMid >= 0 && !deadline.hasExpired() &&
               mosquitto_loop(m_mosq, qMax(1, int(deadline.remainingTime())), 1) == MOSQ_ERR_SUCCESS) {
        }
        m_state = State::Idle; // a wanted end, not a loss
        mosquitto_disconnect(m_mosq);
        mosquitto_loop(m_mosq, 0, 1);
    }
    m_loop->stop();
    m_state = State::Idle;
}

int MqttConnection::publish(const QString& topic, const QByteArray& payload, int qos, bool retain)
{
    if (m_state != State::Connected)
        return -1;
    int mid = -1;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), payload.size(),
                                     payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return -1;
    if (qos > 0)
        m_pendingMid = mid;
    return mid;
}

void MqttConnection::onConnect(mosquitto*, void* self, int rc)
{
    auto* c = static_cast<MqttConnection*>(self);
    if (rc != 0) {
        // 4: bad user name or password, 5: not authorised (what mosquitto answers a wrong password).
        c->m_reason = rc == 4 || rc == 5
                          ? QStringLiteral("MQTT: брокер отклонил вход (неверное имя или пароль)")
                          : QStringLiteral("MQTT: брокер отклонил подключение (код %1)").arg(rc);
        return;
    }
    c->m_reason.clear();
    c->m_state = State::Connected;
    c->m_backoffMs = 1000;
    emit c->connected();
}

void MqttConnection::onDisconnect(mosquitto*, void* self, int)
{
    auto* c = static_cast<MqttConnection*>(self);
    if (c->m_state == State::Connected)
        c->lost(MOSQ_ERR_CONN_LOST);
}

void MqttConnection::onPublish(mosquitto*, void* self, int mid)
{
    auto* c = static_cast<MqttConnection*>(self);
    if (mid == c->m_pendingMid)
        c->m_pendingMid = -1;
    emit c->acknowledged(mid);
}
