#pragma once

#include "core/RoomSnapshot.h"
#include "journal/Event.h"
#include "journal/EventOutbox.h"
#include "mail/MailSender.h"

#include <QObject>
#include <QVector>

#include <memory>

class QTimer;

// Mails the room's alarms. Lives on a thread of its own (the owner moves it there, calls
// start() from the thread's started signal and stop() before ending it); events and snapshots
// come by queued connections.
//
// Events within `groupSeconds` of the first go in one mail. A mail goes to the outbox on disk
// first and leaves it only when the relay accepted it; until then it is tried again with a
// back-off of 10 s doubling to 10 minutes, in order, across restarts.
class MailPublisher : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        MailSender::Relay relay;
        QStringList to;
        QString room;
        int groupSeconds = 60;
        bool onConfirm = false;
        QString outboxPath;
        int outboxBound = 10000;
        int firstRetryMs = 10000;
    };

    explicit MailPublisher(const Config& config, QObject* parent = nullptr);
    ~MailPublisher() override;

    // Which journal events make mail: alarms beginning and ending, communication lost and back;
    // confirmations when asked for.
    static bool mails(const Event& event, bool onConfirm);

public slots:
    void start();
    // What was gathered goes to the outbox; nothing more is sent.
    void stop();
    void takeEvent(const Event& event);
    void takeSnapshot(const RoomSnapshot& snapshot);

signals:
    void statusChanged(const QString& text);

private:
    void closeWindow();
    void sendWaiting();
    void report(const QString& trouble = QString());

    Config m_config;
    std::unique_ptr<EventOutbox> m_outbox;
    QTimer* m_window = nullptr;
    QTimer* m_retry = nullptr;
    QVector<Event> m_gathered;
    RoomSummary m_now;
    int m_backoffMs = 0;
    QString m_refused;
    QString m_status;
};
