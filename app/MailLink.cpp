#include "app/MailLink.h"

#include "app/RoomFeed.h"
#include "app/WorkerThread.h"
#include "mail/MailDigest.h"
#include "mail/MailMessage.h"
#include "mail/MailPublisher.h"

#include <QDir>
#include <QPointer>
#include <QThread>

namespace {

bool operator==(const Settings::Mail& a, const Settings::Mail& b)
{
    return a.enabled == b.enabled && a.url == b.url && a.starttls == b.starttls && a.tlsCa == b.tlsCa &&
           a.user == b.user && a.password == b.password && a.from == b.from && a.to == b.to &&
           a.groupSeconds == b.groupSeconds && a.onConfirm == b.onConfirm;
}

MailSender::Relay relayOf(const Settings::Mail& mail)
{
    MailSender::Relay relay;
    relay.url = mail.url;
    relay.starttls = mail.starttls;
    relay.caFile = mail.tlsCa;
    relay.user = mail.user;
    relay.password = mail.password;
    relay.from = mail.from;
    return relay;
}

} // namespace

MailLink::MailLink(RoomFeed* feed, const QString& folder, QObject* parent)
    : QObject(parent), m_feed(feed), m_folder(folder)
{
}

MailLink::~MailLink()
{
    stop();
}

void MailLink::apply(const Settings& settings)
{
    const Settings::Mail& wanted = settings.mail();
    if (m_publisher && wanted == m_running && settings.roomName() == m_room)
        return;
    stop();
    m_running = wanted;
    m_room = settings.roomName();
    if (!wanted.enabled || wanted.url.isEmpty()) {
        emit statusChanged(QString());
        return;
    }
    MailPublisher::Config config;
    config.relay = relayOf(wanted);
    config.to = MailMessage::addresses(wanted.to);
    config.room = m_room;
    config.groupSeconds = wanted.groupSeconds;
    config.onConfirm = wanted.onConfirm;
    config.outboxPath = QDir(m_folder).absoluteFilePath(QStringLiteral("mail-outbox.sqlite"));
    m_publisher = new MailPublisher(config);
    connect(m_feed, &RoomFeed::sweepTaken, m_publisher, &MailPublisher::takeSnapshot);
    connect(m_feed, &RoomFeed::eventTaken, m_publisher,
            [publisher = m_publisher](const Event& event, bool) { publisher->takeEvent(event); });
    connect(m_publisher, &MailPublisher::statusChanged, this, &MailLink::statusChanged);
    m_thread = WorkerThread::start(
        m_publisher, [publisher = m_publisher] { publisher->start(); }, this);
}

void MailLink::stop()
{
    if (!m_publisher)
        return;
    disconnect(m_feed, nullptr, m_publisher, nullptr);
    disconnect(m_publisher, nullptr, this, nullptr);
    WorkerThread::stop(
        m_thread, m_publisher, [publisher = m_publisher] { publisher->stop(); }, 3000);
    m_thread = nullptr;
    m_publisher = nullptr;
}

void MailLink::sendTest(const Settings::Mail& mail, const QString& room)
{
    QPointer<MailLink> self(this);
    QThread* thread = QThread::create([self, mail, room] {
        const QStringList to = MailMessage::addresses(mail.to);
        const QByteArray message = MailMessage::compose(
            mail.from, to, MailDigest::subject(room, {}),
            QStringLiteral("Проверочное письмо из помещения %1: почта тревог настроена верно.\n").arg(room),
            QDateTime::currentDateTime());
        const MailSender::Result r = MailSender::send(relayOf(mail), to, message);
        QString text = r.accepted ? QStringLiteral("Письмо принято сервером почты")
                                  : QStringLiteral("Письмо не отправлено: ") + r.error;
        if (!r.refused.isEmpty())
            text += QStringLiteral("; отклонены адреса: ") + r.refused.join(QStringLiteral(", "));
        QMetaObject::invokeMethod(self, [self, text] {
            if (self)
                emit self->testOutcome(text);
        });
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
