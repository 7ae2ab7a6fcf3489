#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;
struct mosquitto;

// One connection to an MQTT broker over libmosquitto, with a last will, reconnecting with a
// back-off of 1 s doubling to 60 s. Its network loop runs on the owner's thread from a 25 ms
// timer (mosquitto_loop with no wait) rather than on libmosquitto's own thread, so every
// callback and signal comes on the owner's thread and nothing needs a lock; the owner's
// thread must therefore never be the GUI thread, as the host's name is resolved on it.
class MqttConnection : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString host;
        int port = 1883;
        QString caFile; // empty: plain TCP
        QString user;
        QString password;
        QString clientId;
        QString willTopic;
        QByteArray willPayload; // retained, QoS 1
    };

    explicit MqttConnection(const Options& options, QObject* parent = nullptr);
    ~MqttConnection() override;

    void open();
    // A clean end: what was published goes out first (waiting up to `msecs` for its
    // acknowledgements), then the broker is told, so the last will is not sent.
    void close(int msecs);
    bool isConnected() const { return m_state == State::Connected; }
    // Why the last attempt failed, in Russian; empty when nothing particular is known.
    QString reason() const { return m_reason; }

    // The message id, or -1 when not connected or refused.
    int publish(const QString& topic, const QByteArray& payload, int qos, bool retain);

signals:
    void connected();
    void disconnected();
    // The broker acknowledged the QoS 1 message `mid`.
    void acknowledged(int mid);

private:
    enum class State
    {
        Idle,
        Waiting, // for the next attempt
        Connecting,
        Connected
    };
    void tick();
    int renew();
    void attempt();
    void lost(int rc);
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);

    const Options m_options;
    mosquitto* m_mosq = nullptr;
    QTimer* m_loop = nullptr;
    State m_state = State::Idle;
    qint64 m_connectingSince = 0;
    int m_backoffMs = 1000;
    qint64 m_retryAt = 0;
    QString m_reason;
    int m_pendingMid = -1; // while closing
};
