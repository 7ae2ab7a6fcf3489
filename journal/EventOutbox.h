#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

// Messages waiting until their receiver (the MQTT broker, the mail relay) has acknowledged them,
// in a SQLite file of their own (mqtt-outbox.sqlite, mail-outbox.sqlite), so neither a long
// outage nor a restart loses one or changes their order. Bounded: past the bound an append
// drops the oldest and counts them.
//
// Used from one thread only (the sender's), hence no locking. A damaged file is set aside
// as "<file>.broken-<time>" and a new one begun; errorText() then says where and why.
class EventOutbox
{
public:
    static constexpr int defaultBound = 100000;

    struct Message
    {
        qint64 id = 0;
        QString topic;
        QByteArray payload;
    };

    // `title` names the queue in error texts.
    explicit EventOutbox(int bound = defaultBound,
                         const QString& title = QStringLiteral("Очередь событий MQTT"));
    ~EventOutbox();
    EventOutbox(const EventOutbox&) = delete;
    EventOutbox& operator=(const EventOutbox&) = delete;

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
    const QString m_title;
    const QString m_connection;
    QSqlDatabase m_db;
    QString m_errorText;
    int m_size = 0;
    int m_dropped = 0;
};
