#include "mail/MailPublisher.h"

#include "mail/MailDigest.h"
#include "mail/MailMessage.h"

#include <QDebug>
#include <QTimer>

namespace {

constexpr int longestRetryMs = 10 * 60 * 1000;

} // namespace

MailPublisher::MailPublisher(const Config& config, QObject* parent) : QObject(parent), m_config(config)
{
    qRegisterMetaType<Event>();
    qRegisterMetaType<RoomSnapshot>();
}

MailPublisher::~MailPublisher() = default;

bool MailPublisher::mails(const Event& event, bool onConfirm)
{
    const bool confirmation =
        event.isConfirmed() && (event.kind() == Event::Kind::CommLost || event.isStarted());
    return !confirmation || onConfirm;
}

void MailPublisher::start()
{
    m_outbox = std::make_unique<EventOutbox>(m_config.outboxBound, QStringLiteral("Очередь писем"));
    if (!m_outbox->open(m_config.outboxPath) || !m_outbox->errorText().isEmpty())
        qWarning().noquote() << m_outbox->errorText();
    m_window = new QTimer(this);
    m_window->setSingleShot(true);
    connect(m_window, &QTimer::timeout, this, &MailPublisher::closeWindow);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &MailPublisher::sendWaiting);
    report();
    sendWaiting();
}

void MailPublisher::stop()
{
    if (m_window && m_window->isActive())
        closeWindow(), m_window->stop();
    if (m_retry)
        m_retry->stop();
    m_outbox.reset();
}

void MailPublisher::takeEvent(const Event& event)
{
    if (!m_outbox || !mails(event, m_config.onConfirm))
        return;
    m_gathered.append(event);
    if (m_config.groupSeconds <= 0)
        closeWindow();
    else if (!m_window->isActive())
        m_window->start(m_config.groupSeconds * 1000);
}

void MailPublisher::takeSnapshot(const RoomSnapshot& snapshot)
{
    m_now = snapshot.summary;
}

void MailPublisher::closeWindow()
{
    if (m_gathered.isEmpty() || !m_outbox)
        return;
    const QByteArray message = MailMessage::compose(
        m_config.relay.from, m_config.to, MailDigest::subject(m_config.room, m_gathered),
        MailDigest::body(m_config.room, m_gathered, m_now), QDateTime::currentDateTime());
    m_gathered.clear();
    if (m_outbox->append(QStringLiteral("mail"), message) < 0)
        qWarning().noquote() << m_outbox->errorText();
    if (const int dropped = m_outbox->takeDroppedCount())
        qWarning().noquote()
            << QStringLiteral("Почта: очередь писем переполнена, старейших отброшено: %1").arg(dropped);
    if (!m_retry->isActive())
        sendWaiting();
}

void MailPublisher::sendWaiting()
{
    while (m_outbox && m_outbox->size() > 0) {
        const QVector<EventOutbox::Message> next = m_outbox->peek(1);
        if (next.isEmpty())
            return;
        const MailSender::Result result = MailSender::send(m_config.relay, m_config.to, next.first().payload);
        if (!result.accepted) {
            m_backoffMs = m_backoffMs ? qMin(m_backoffMs * 2, longestRetryMs) : m_config.firstRetryMs;
            m_retry->start(m_backoffMs);
            return report(result.error);
        }
        m_backoffMs = 0;
        m_refused = result.refused.join(QStringLiteral(", "));
        m_outbox->acknowledge(next.first().id);
    }
    report();
}

void MailPublisher::report(const QString& trouble)
{
    QString text = QStringLiteral("Почта: готова");
    if (!trouble.isEmpty())
        text = QStringLiteral("Почта не отправляется: %1; писем в очереди: %2")
                   .arg(trouble)
                   .arg(m_outbox ? m_outbox->size() : 0);
    else if (!m_refused.isEmpty())
        text = QStringLiteral("Почта: сервер отклонил адрес: %1").arg(m_refused);
    if (text != m_status) {
        m_status = text;
        emit statusChanged(text);
    }
}
