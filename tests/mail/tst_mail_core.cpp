// The alarm mail's Russian digest, which events make mail, and the composed message read back.
#include "mail/MailDigest.h"
#include "mail/MailMessage.h"
#include "mail/MailPublisher.h"
#include <QtTest>
using Events = QVector<Event>;
static const QDateTime at(QDate(2026, 12, 8), QTime(14, 5, 3), Qt::OffsetFromUTC, 3 * 3600);
static const Event::Kind lost = Event::Kind::CommLost, back = Event::Kind::CommRestored;
static const auto comm = &Event::communication;
static const QString battery = ": группа 2, МСД 04 МКП 3; 15,01 В (отклонение +1,13 В), 24,3 °C (-0,1 °C)";
static Event alarm(bool started, bool confirmed, bool emergency, char limit = 0)
{
    Event e(4, 2, 2, at, 24.26, 15.006, -0.06, 1.126, started, confirmed, 1, emergency ? 3 : 2);
    return e.setLimit(limit, '>', 15), e;
}
// The first event's line after the time (head + `more`: the subject); mailed without, with confirmations.
static void row(const char* name, Events events, const QString& line, const char* mails, QString more = {})
{
    QTest::newRow(name) << events << line << mails << more;
}
class TestMailCore : public QObject
{
    Q_OBJECT
private slots:
    void digest_data()
    {
        QTest::addColumn<Events>("events");
        for (const char* column : {"line", "mails", "more"})
            QTest::addColumn<QString>(column);
        row("begin warning", {alarm(1, 0, 0)}, "Начало предупреждения" + battery, "yy");
        row("begin emergency", {alarm(1, 0, 1)}, "Начало аварии" + battery, "yy");
        row("end", {alarm(0, 0, 0)}, "Конец предупреждения" + battery, "yy");
        row("end confirmed", {alarm(0, 1, 1)}, "Конец аварии" + battery, "yy");
        row("confirmed", {alarm(1, 1, 1)}, "Авария подтверждена" + battery, "ny");
        row("confirmed warning", {alarm(1, 1, 0)}, "Предупреждение подтверждено" + battery, "ny");
        row("limit", {alarm(1, 0, 1, 'U')}, "Начало аварии" + battery + "; предел U> 15,00", "yy");
        row("lost native", {comm(lost, 4, 0, 0, at, false)}, "Нет связи: МСД 04", "yy");
        row("lost modbus", {comm(lost, 4, 2, 7, at, false)}, "Нет связи: группа 2 (адрес 7)", "yy");
        row("lost confirmed", {comm(lost, 4, 0, 0, at, true)}, "Потеря связи подтверждена: МСД 04", "ny");
        row("restored", {comm(back, 4, 2, 7, at, false)}, "Связь восстановлена: группа 2 (адрес 7)", "yy");
        row("several", {alarm(0, 0, 1), alarm(1, 0, 0), alarm(1, 1, 0)}, "Конец аварии" + battery, "yy",
            " и ещё событий: 2");
    }
    void digest()
    {
        QFETCH(Events, events);
        QFETCH(QString, line);
        QFETCH(QString, more);
        const auto yn = [&](bool confirmed) {
            return MailPublisher::mails(events[0], confirmed) ? 'y' : 'n';
        };
        QCOMPARE(MailDigest::line(events[0]), "08.12.2026 14:05:03  " + line);
        QCOMPARE(MailDigest::subject("R", events), "[R] " + line.section(';', 0, 0) + more);
        QTEST(QString(yn(false)) + yn(true), "mails");
    }
    void compose_data() // a subject, its encoded words
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("words");
        QTest::newRow("ascii") << "Test" << 1;
        QTest::newRow("cyrillic") << "[Аккумуляторная №3] Начало аварии: МСД 04 МКП 3 и ещё событий: 17" << 3;
        QTest::newRow("surrogates") << QString("Ш😀😀😀😀😀😀😀😀😀😀😀") << 2; // a pair never split
    }
    void compose() // read back: CRLF, headers unfolded, the subject's words decoded, the base64 body
    {
        QFETCH(QString, subject);
        const QString body = "Помещение: R\n\n" + QString("строка журнала\n").repeated(20);
        const QByteArray m = MailMessage::compose("r@x", {"a@x", "b@x"}, subject, body, at);
        const QStringList head = QString(m.left(m.indexOf("\r\n\r\n"))).replace("\r\n ", " ").split("\r\n");
        QCOMPARE(m.count('\n'), m.count("\r\n"));
        QCOMPARE(head.mid(0, 3).join('|'), "Date: Tue, 08 Dec 2026 14:05:03 +0300|From: r@x|To: a@x, b@x");
        QString decoded;
        const QStringList words = head.value(3).section("Subject: ", 1).split(' ');
        for (const QString& w : words) // each "=?UTF-8?B?...?=", at most 75 characters
            decoded += w.size() > 75 || !w.startsWith("=?UTF-8?B?")
                           ? "|" + w
                           : QString(QByteArray::fromBase64(w.toLatin1().mid(10)));
        QTEST(words.size(), "words");
        QCOMPARE(decoded, subject);
        const QByteArrayList lines = m.mid(m.indexOf("\r\n\r\n") + 4).split('\n');
        QVERIFY(std::all_of(lines.begin(), lines.end(), [](const QByteArray& l) { return l.size() <= 77; }));
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(lines.join())), body);
    }
};

QTEST_MAIN(TestMailCore)
#include "tst_mail_core.moc"
