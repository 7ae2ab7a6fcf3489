#include "mail/MailMessage.h"

#include <QLocale>
#include <QUuid>

namespace MailMessage {

QByteArray encodedWords(const QString& text)
{
    // Whole characters per word, each word at most 75 bytes: 45 bytes of UTF-8 make 60 of base64.
    QByteArray out;
    QString chunk;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toUtf8().toBase64() + "?=";
        chunk.clear();
    };
    for (int i = 0; i < text.size(); ++i) {
        const int width = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString next = text.mid(i, width);
        if ((chunk + next).toUtf8().size() > 45)
            flush();
        chunk += next;
        i += width - 1;
    }
    flush();
    return out;
}

QStringList addresses(const QString& list)
{
    QStringList result;
    for (const QString& part : list.split(QLatin1Char(',')))
        if (!part.trimmed().isEmpty())
            result << part.trimmed();
    return result;
}

QByteArray compose(const QString& from, const QStringList& to, const QString& subject, const QString& body,
                   const QDateTime& date)
{
    const QByteArray domain = from.section(QLatin1Char('@'), 1).toUtf8();
    QByteArray m;
    const int offset = date.offsetFromUtc() / 60;
    m += "Date: " + QLocale::c().toString(date, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() +
         QString::asprintf(" %c%02d%02d\r\n", offset < 0 ? '-' : '+', qAbs(offset) / 60, qAbs(offset) % 60)
             .toLatin1();
    m += "From: " + from.toUtf8() + "\r\n";
    m += "To: " + to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    m += "Subject: " + encodedWords(subject) + "\r\n";
    m += "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@" +
         (domain.isEmpty() ? QByteArray("orvik-monitor") : domain) + ">\r\n";
    m += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray encoded = body.toUtf8().toBase64();
    for (int i = 0; i < encoded.size(); i += 76)
        m += encoded.mid(i, 76) + "\r\n";
    return m;
}

} // namespace MailMessage
