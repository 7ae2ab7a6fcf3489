#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// An e-mail as the relay takes it: UTF-8 throughout, the subject as RFC 2047 encoded words,
// the body text/plain in base64 (so no relay's 8-bit handling matters), CRLF line ends.
namespace MailMessage {

QByteArray encodedWords(const QString& text);
QByteArray compose(const QString& from, const QStringList& to, const QString& subject, const QString& body,
                   const QDateTime& date);
// The addresses of a comma-separated list, blanks dropped.
QStringList addresses(const QString& list);

} // namespace MailMessage
