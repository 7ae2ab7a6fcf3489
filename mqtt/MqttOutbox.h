#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

// The events waiting for the broker's acknowledgement, in a SQLite file of their own
// (mqtt-outbox.sqlite), so neither a long outage nor a restart loses one or changes their
// order. Bounded: past the bound an append drops the oldest and counts them.
//
// Used from one thread only (the MQTT thread), hence no locking. A damaged file is set aside
// as "<file>.broken-<time>" and a new one begun; errorText() then says where and why.
class MqttOutbox
{
public:
    static constexpr int defaultBound = 100000;

    struct Message
    {
        qint64 id = 0;
        QString topic;
        QByteArray payload;
    };

    explicit MqttOutbox(int bound = defaultBound);
    ~MqttOutbox();
    MqttOutbox(const MqttOutbox&) = delete;
    MqttOutbox& operator=(const MqttOutbox&) = delete;

    // Closes the file open before. False with errorText() set when the file cannot be used;
    // true after a set-aside too.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    QString errorText() const { return m_errorText; }

    // The new message's id (ids only grow), or -1 when the write failed.
    qint64 append(const QString& topic, const QByteArray& payload);
    // The oldest n not yet acknowledged, oldest first.
    QVector<Message> peek(int n);
    bool acknowledge(qint64 id);
    int size() const { return m_size; }
    // Messages dropped for the bound since the last call.
    int takeDroppedCount();

private:
    enum class Check
    {
        Usable,
        Broken,
        Failed
    };
    Check openFile(const QString& path);
    bool exec(const QString& sql);
    bool fail(const QString& what, const QString& detail);
    QString setAside(const QString& path) const;

    const int m_bound;
    const QString m_connection;
    QSqlDatabase m_db;
    QString m_errorText;
    int m_size = 0;
    int m_dropped = 0;
};
