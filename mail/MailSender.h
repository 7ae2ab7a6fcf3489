#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One mail handed to an SMTP relay with libcurl, blocking the calling thread (never the GUI's)
// for at most the time-outs. A recipient the relay refuses does not stop the others.
class MailSender
{
public:
    struct Relay
    {
        QString url;          // smtp://host:587 or smtps://host:465
        bool starttls = true; // with smtp://: required, or the mail goes in the clear
        QString caFile;       // empty: the system's authorities
        QString user;
        QString password;
        QString from;
        int connectTimeoutSeconds = 10;
        int timeoutSeconds = 30;
    };
    struct Result
    {
        bool accepted = false; // the relay took the mail for at least one recipient
        QString error;         // in Russian, when not accepted
        QStringList refused;   // recipients the relay refused
    };

    static Result send(const Relay& relay, const QStringList& to, const QByteArray& message);
};
