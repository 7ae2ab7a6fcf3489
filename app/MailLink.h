#pragma once

#include "config/Settings.h"

#include <QObject>

class MailPublisher;
class QThread;
class RoomFeed;

// Runs the alarm mail on a thread of its own while the settings ask for it, fed from the
// room's feed; sends the settings page's test mail on a thread of its own too.
class MailLink : public QObject
{
    Q_OBJECT
public:
    // The outbox is kept in `folder` (the working folder).
    MailLink(RoomFeed* feed, const QString& folder, QObject* parent = nullptr);
    ~MailLink() override;

    void apply(const Settings& settings);
    // A test mail with these settings, whether saved or not; the outcome comes by testOutcome.
    void sendTest(const Settings::Mail& mail, const QString& room);

signals:
    void statusChanged(const QString& text);
    void testOutcome(const QString& text);

private:
    void stop();

    RoomFeed* m_feed;
    QString m_folder;
    QThread* m_thread = nullptr;
    MailPublisher* m_publisher = nullptr;
    Settings::Mail m_running;
    QString m_room;
};
