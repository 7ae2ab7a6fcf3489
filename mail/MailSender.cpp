#include "mail/MailSender.h"

#include <curl/curl.h>

#include <mutex>

namespace {

struct Upload
{
    const QByteArray* message;
    qsizetype at = 0;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* data)
{
    auto* upload = static_cast<Upload*>(data);
    const qsizetype n = qMin(qsizetype(size * count), upload->message->size() - upload->at);
    memcpy(buffer, upload->message->constData() + upload->at, size_t(n));
    upload->at += n;
    return size_t(n);
}

// Follows the dialogue to learn which RCPT TO the relay answered with a failure.
struct Dialogue
{
    QString lastRecipient;
    QStringList refused;
};

int watch(CURL*, curl_infotype type, char* data, size_t size, void* self)
{
    auto* d = static_cast<Dialogue*>(self);
    const QByteArray text(data, int(size));
    if (type == CURLINFO_HEADER_OUT && text.startsWith("RCPT TO:"))
        d->lastRecipient =
            QString::fromUtf8(text.mid(8).trimmed()).remove(QLatin1Char('<')).remove(QLatin1Char('>'));
    else if (type == CURLINFO_HEADER_IN && !d->lastRecipient.isEmpty()) {
        if (text.startsWith('4') || text.startsWith('5'))
            d->refused << d->lastRecipient;
        d->lastRecipient.clear();
    }
    return 0;
}

QString russian(CURLcode code, long response)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("адрес сервера почты не найден");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("сервер почты не отвечает");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("сервер почты не ответил вовремя");
    case CURLE_LOGIN_DENIED:
        return QStringLiteral("сервер почты отклонил вход (неверное имя или пароль)");
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("сервер почты не поддерживает STARTTLS");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("ошибка TLS: %1").arg(QString::fromUtf8(curl_easy_strerror(code)));
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return QStringLiteral("связь с сервером почты прервалась");
    default:
        return response >= 400 ? QStringLiteral("сервер почты ответил %1").arg(response)
                               : QString::fromUtf8(curl_easy_strerror(code));
    }
}

} // namespace

MailSender::Result MailSender::send(const Relay& relay, const QStringList& to, const QByteArray& message)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    Result result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = QStringLiteral("нет памяти для соединения");
        return result;
    }
    const QByteArray url = relay.url.toUtf8(), from = relay.from.toUtf8(), user = relay.user.toUtf8(),
                     password = relay.password.toUtf8(), ca = relay.caFile.toLocal8Bit();
    curl_slist* recipients = nullptr;
    for (const QString& address : to)
        recipients = curl_slist_append(recipients, address.toUtf8().constData());
    Upload upload{&message};
    Dialogue dialogue;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(relay.connectTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(relay.timeoutSeconds));
    if (relay.url.startsWith(QLatin1String("smtp://"), Qt::CaseInsensitive) && relay.starttls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!ca.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, watch);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &dialogue);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    const CURLcode code = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    result.refused = dialogue.refused;
    result.accepted = code == CURLE_OK;
    if (!result.accepted)
        result.error = russian(code, response);
    return result;
}
