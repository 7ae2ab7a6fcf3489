// The publisher against a real relay on loopback (STARTTLS, login): grouping, outages, refusals, restarts.
#include "journal/EventOutbox.h"
#include "mail/MailDigest.h"
#include "mail/MailMessage.h"
#include "mail/MailPublisher.h"
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>
// Appends each mail it takes to argv[2], decoded: "recipients\nsubject\nbody\f"; refuses the "bad"
// recipients.
static const char* script = R"(import email, email.policy, ssl, sys, threading
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult
class Handler:
    async def handle_RCPT(self, server, session, envelope, address, options):
        return '550 no such mailbox' if 'bad' in address else (envelope.rcpt_tos.append(address), '250 OK')[1]
    async def handle_DATA(self, server, session, envelope):
        m, said = email.message_from_bytes(envelope.content, policy=email.policy.default), envelope.rcpt_tos
        open(sys.argv[2], 'a', encoding='utf-8').write(','.join(said) + f"\n{m['subject']}\n{m.get_content()}\f")
        return '250 OK'
tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
tls.load_cert_chain(sys.argv[3] + '.crt', sys.argv[3] + '.key')
Controller(Handler(), hostname='127.0.0.1', port=int(sys.argv[1]), tls_context=tls, require_starttls=True,
           auth_required=True, authenticator=lambda *a: AuthResult(success=a[4] == (b'orvik', b'secret'), handled=False)).start()
print('ready', flush=True)
threading.Event().wait())";
static Event alarm(int i) // the battery i/2's alarm begins (even i) or ends (odd i)
{
    return Event(i / 2 % 16, i / 32, 1, QDateTime(QDate(2026, 12, 8), QTime(14, 5)), 25, 13, 1, 2, i % 2 == 0,
                 0, 1, 3);
}
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
    bool up() // with a throw-away certificate for the loopback, its own authority
    {
        const QString args =
            "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=x "
            "-addext subjectAltName=IP:127.0.0.1 -keyout %1/c.key -out %1/c.crt";
        relay.start("openssl", args.arg(dir.path()).split(' ')), relay.waitForFinished(20000), free.close();
        relay.start("/usr/bin/python3", {"-c", script, port, dir.filePath("mails"), dir.filePath("c")});
        QByteArray said;
        while (!(said += relay.readAll()).contains("ready") && relay.waitForReadyRead(10000)) {
        }
        return said.contains("ready");
    }
    void begin(const QString& password, const QString& to)
    {
        const MailSender::Relay r{
            "smtp://127.0.0.1:" + port, true, dir.filePath("c.crt"), "orvik", password, "r@x.org", 3, 10};
        publisher = new MailPublisher(
            {r, MailMessage::addresses(to), "R", 1, false, dir.filePath("outbox"), 100, 200});
        publisher->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, publisher, &MailPublisher::start);
        QObject::connect(publisher, &MailPublisher::statusChanged, &thread,
                         [this](const QString& s) { status = s; });
        thread.start();
    }
    void end()
    {
        if (publisher)
            QMetaObject::invokeMethod(publisher, &MailPublisher::stop, Qt::BlockingQueuedConnection);
        thread.quit(), thread.wait(), delete publisher, publisher = nullptr;
    }
    QStringList mails() const // as the relay took them
    {
        QFile f(dir.filePath("mails"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\f', Qt::SkipEmptyParts)
                                           : QStringList();
    }
};
// Steps: u the relay up, p a publisher to a@x.org (b: and bad@x.org, P: a wrong password), x it stops,
// eN N events, w 1,5 s. Then: at most so many mails, the first one's recipients and subject, the status.
static void row(const char* name, const char* steps, int most, const QString& head, const QString& status)
{
    QTest::newRow(name) << QString(steps) << most << head << status;
}
class TestMailSmtp : public QObject
{
    Q_OBJECT
private slots:
    void deliver_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("most");
        QTest::addColumn<QString>("head");
        QTest::addColumn<QString>("status"); // the count in it is the outbox's after the end
        const QString ok = "Почта: готова", a = "a@x.org\n[R] Начало аварии: группа 1, МСД 00 МКП 1";
        row("begin and end", "u p e2", 1, a + " и ещё событий: 1\n", ok);
        row("storm", "u p e64", 3, a, ok);
        row("relay down", "p e10 w e10 w u", 3, a, ok);
        row("restart", "p e5 w e5 x u p", 2, a, ok);
        row("refused", "u b e1", 1, a + "\n", "Почта: сервер отклонил адрес: bad@x.org");
        row("wrong password", "u P e1", 0, "",
            "Почта не отправляется: сервер почты отклонил вход (неверное имя или пароль); писем в очереди: "
            "1");
    }
    void deliver()
    {
        QFETCH(QString, steps);
        QFETCH(int, most);
        QFETCH(QString, head);
        QFETCH(QString, status);
        Room room;
        QStringList lines;
        for (const QString& step : steps.split(' ')) {
            if (step == "u")
                QVERIFY(room.up());
            else if (step == "x")
                room.end();
            else if (step == "w")
                QTest::qWait(1500);
            else if (step.size() == 1)
                room.begin(step == "P" ? "wrong" : "secret", step == "b" ? "a@x.org, bad@x.org" : "a@x.org");
            for (int n = step.mid(1).toInt(); step[0] == 'e' && n > 0; --n) {
                const Event e = alarm(lines.size());
                QMetaObject::invokeMethod(room.publisher, [p = room.publisher, e] { p->takeEvent(e); });
                lines << MailDigest::line(e);
            }
        }
        const auto said = [&] { return room.mails().join('\n').split('\n').filter("08.12.2026"); };
        QTRY_VERIFY2_WITH_TIMEOUT(room.status == status &&
                                      said() == (status.contains("очереди") ? QStringList() : lines),
                                  qPrintable(room.status), 20000);
        QVERIFY2(room.mails().size() <= most && room.mails().value(0, "").startsWith(head),
                 qPrintable(room.mails().join('|')));
        room.end();
        EventOutbox outbox;
        QVERIFY(outbox.open(room.dir.filePath("outbox")));
        QCOMPARE(outbox.size(), status.section("очереди: ", 1).toInt());
    }
};

QTEST_MAIN(TestMailSmtp)
#include "tst_mail_smtp.moc"
