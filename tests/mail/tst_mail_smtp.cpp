// The publisher against a real relay on loopback (STARTTLS, login): grouping, outages, refusals, restarts.
#include "../common/FileContent.h"
#include "journal/EventOutbox.h"
#include "mail/MailDigest.h"
#include "mail/MailMessage.h"
#include "mail/MailPublisher.h"
#include <QTcpServer>
#include <QtTest>
// Appends each mail it takes to "<argv[2]>/mails", decoded: "recipients\nsubject\nbody\f"; "bad" ones
// refused.
static const char* script =
    R"(import email, email.policy, ssl, sys, threading, aiosmtpd.controller, aiosmtpd.smtp
class Handler:
    async def handle_RCPT(self, server, session, envelope, address, options):
        return '550 no such mailbox' if 'bad' in address else (envelope.rcpt_tos.append(address), '250 OK')[1]
    async def handle_DATA(self, server, session, envelope):
        m = email.message_from_bytes(envelope.content, policy=email.policy.default)
        with open(sys.argv[2] + '/mails', 'a', encoding='utf-8') as f:
            f.write(','.join(envelope.rcpt_tos) + f"\n{m['subject']}\n{m.get_content()}\f")
        return '250 OK'
tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
tls.load_cert_chain(sys.argv[2] + '/c.crt', sys.argv[2] + '/c.key')
login = lambda *a: aiosmtpd.smtp.AuthResult(success=a[4] == (b'orvik', b'secret'), handled=False)
aiosmtpd.controller.Controller(Handler(), hostname='127.0.0.1', port=int(sys.argv[1]), tls_context=tls,
                               require_starttls=True, auth_required=True, authenticator=login).start()
print('ready', flush=True)
threading.Event().wait())";
static const QDateTime day(QDate(2026, 12, 8), QTime(14, 5));
// A relay and a publisher on its own thread; the relay killed at the end.
struct Room
{
    QTemporaryDir dir;
    QTcpServer free; // holds a free port until the relay starts
    const QString port = QString::number((free.listen(QHostAddress::LocalHost), free.serverPort()));
    QProcess relay;
    QThread thread;
    MailPublisher* publisher = nullptr;
    QString status;
    ~Room() { end(), relay.kill(), relay.waitForFinished(); }
    QString mails() const { return readFile(dir.filePath("mails")); }
    bool up() // with a throw-away certificate for the loopback, its own authority
    {
        const QString args =
            "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=x "
            "-addext subjectAltName=IP:127.0.0.1 -keyout %1/c.key -out %1/c.crt";
        relay.start("openssl", args.arg(dir.path()).split(' ')), relay.waitForFinished(20000), free.close();
        relay.start("/usr/bin/python3", {"-c", script, port, dir.path()});
        QByteArray said;
        while (!said.contains("ready") && relay.waitForReadyRead(20000))
            said += relay.readAll();
        return said.contains("ready");
    }
    void begin(const QString& password, const QString& to)
    {
        MailPublisher::Config c;
        c.relay = {"smtp://127.0.0.1:" + port, true, dir.filePath("c.crt"), "orvik", password, "r@x.org"};
        c.to = MailMessage::addresses(to), c.room = "R", c.groupSeconds = 1, c.firstRetryMs = 200;
        c.outboxPath = dir.filePath("outbox"), publisher = new MailPublisher(c);
        publisher->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, publisher, &MailPublisher::start);
        QObject::connect(publisher, &MailPublisher::statusChanged, &thread, [&](QString s) { status = s; });
        thread.start();
    }
    void end()
    {
        if (publisher)
            QMetaObject::invokeMethod(publisher, &MailPublisher::stop, Qt::BlockingQueuedConnection);
        thread.quit(), thread.wait(), delete publisher, publisher = nullptr;
    }
};
class TestMailSmtp : public QObject
{
    Q_OBJECT
private slots:
    // Steps: u the relay up, p a publisher to a@x.org (b: and bad@x.org, P: a wrong password), x it stops,
    // eN N events, w 1,5 s. Then: the first mail's recipients and subject, the status; three mails at most.
    void deliver_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("head");
        QTest::addColumn<QString>("status"); // the count in it is the outbox's after the end
        const QString ok = "Почта: готова", a = "a@x.org\n[R] Начало аварии: группа 1, МСД 00 МКП 1";
        const QString login = "Почта не отправляется: сервер почты отклонил вход (неверное имя или пароль)";
        QTest::newRow("begin and end") << "u p e2" << a + " и ещё событий: 1" << ok;
        QTest::newRow("storm") << "u p e64" << a + " и ещё событий: 63" << ok;
        QTest::newRow("relay down") << "p e10 w e10 w u" << a + " и ещё событий: 9" << ok;
        QTest::newRow("restart") << "p e5 w e5 x u p" << a + " и ещё событий: 4" << ok;
        QTest::newRow("refused") << "u b e1" << a << "Почта: сервер отклонил адрес: bad@x.org";
        QTest::newRow("wrong password") << "u P e1"
                                        << "" << login + "; писем в очереди: 1";
    }
    void deliver()
    {
        QFETCH(QString, steps);
        QFETCH(QString, status);
        Room room;
        QStringList lines; // of the events sent: battery i/2's alarm begins (even i) or ends (odd i)
        for (const QString& step : steps.split(' ')) {
            if (step == "u")
                QVERIFY2(room.up(), room.relay.readAllStandardError());
            else if (step == "x" || step == "w")
                step == "x" ? room.end() : QTest::qWait(1500);
            else if (step.size() == 1)
                room.begin(step == "P" ? "wrong" : "secret", step == "b" ? "a@x.org, bad@x.org" : "a@x.org");
            for (int i = lines.size(), end = i + step.mid(1).toInt(); step[0] == 'e' && i < end; ++i) {
                const Event e(i / 2 % 16, i / 32, 1, day, 25, 13, 1, 2, i % 2 == 0, false, 1, 3);
                QMetaObject::invokeMethod(room.publisher, [p = room.publisher, e] { p->takeEvent(e); });
                lines << MailDigest::line(e);
            }
        }
        const QStringList sent = status.contains("очереди") ? QStringList() : lines;
        QTRY_VERIFY2_WITH_TIMEOUT(room.status == status &&
                                      room.mails().split('\n').filter("08.12.2026") == sent,
                                  qPrintable(room.status), 20000);
        QTEST(room.mails().section('\n', 0, 1), "head");
        QVERIFY(room.mails().count('\f') <= 3);
        room.end();
        EventOutbox outbox;
        QVERIFY(outbox.open(room.dir.filePath("outbox")));
        QCOMPARE(outbox.size(), status.section("очереди: ", 1).toInt());
    }
};

QTEST_MAIN(TestMailSmtp)
#include "tst_mail_smtp.moc"
