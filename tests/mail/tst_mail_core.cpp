// What an alarm mail says and how it is put on the wire: the Russian digest, which events make mail,
// and the composed message read back as a mail reader would.
#include "core/StateCode.h"
#include "mail/MailDigest.h"
#include "mail/MailMessage.h"
#include "mail/MailPublisher.h"
#include <QRegularExpression>
#include <QtTest>
using Events = QVector<Event>;
static const QDateTime at(QDate(2026, 12, 8), QTime(14, 5, 3), Qt::OffsetFromUTC, 3 * 3600);
static const int warning = StateCode::Warning, emergency = StateCode::Emergency;
static const Event::Kind lost = Event::Kind::CommLost, back = Event::Kind::CommRestored;
static const QString battery = ": группа 2, МСД 04 МКП 3; 15,01 В (отклонение +1,13 В), 24,3 °C (-0,1 °C)";
static Event alarm(bool started, bool confirmed, int state, char limit = 0)
{
    Event e(4, 2, 2, at, 24.26, 15.006, -0.06, 1.126, started, confirmed, StateCode::Normal, state);
    return e.setLimit(limit, '>', 15), e;
}
static Event comm(Event::Kind kind, int address, bool confirmed = false)
{
    return Event::communication(kind, 4, address ? 2 : 0, address, at, confirmed);
}
// The first event's line after its time (its head and `more` make the subject); mailed without, with
// onConfirm.
static void row(const char* name, const Events& events, const QString& line, const QString& mails,
                const QString& more = {})
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
        row("begin warning", {alarm(1, 0, warning)}, "Начало предупреждения" + battery, "yy");
        row("begin emergency", {alarm(1, 0, emergency)}, "Начало аварии" + battery, "yy");
        row("end", {alarm(0, 0, warning)}, "Конец предупреждения" + battery, "yy");
        row("end confirmed", {alarm(0, 1, emergency)}, "Конец аварии" + battery, "yy");
        row("confirmed", {alarm(1, 1, emergency)}, "Авария подтверждена" + battery, "ny");
        row("confirmed warning", {alarm(1, 1, warning)}, "Предупреждение подтверждено" + battery, "ny");
        row("limit", {alarm(1, 0, emergency, 'U')}, "Начало аварии" + battery + "; предел U> 15,00", "yy");
        row("lost native", {comm(lost, 0)}, "Нет связи: МСД 04", "yy");
        row("lost modbus", {comm(lost, 7)}, "Нет связи: группа 2 (адрес 7)", "yy");
        row("lost confirmed", {comm(lost, 0, true)}, "Потеря связи подтверждена: МСД 04", "ny");
        row("restored", {comm(back, 7)}, "Связь восстановлена: группа 2 (адрес 7)", "yy");
        row("several", {comm(back, 0), alarm(1, 0, emergency), comm(lost, 0)}, "Связь восстановлена: МСД 04",
            "yy", " и ещё событий: 2");
    }
    void digest()
    {
        QFETCH(Events, events);
        QFETCH(QString, line);
        QFETCH(QString, more);
        QCOMPARE(MailDigest::line(events[0]), "08.12.2026 14:05:03  " + line);
        QCOMPARE(MailDigest::subject("R", events), "[R] " + line.section(';', 0, 0) + more);
        QTEST(QString("ny"[MailPublisher::mails(events[0], false)]) +
                  "ny"[MailPublisher::mails(events[0], true)],
              "mails");
    }
    void compose_data() // a subject → its encoded words
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("words");
        QTest::newRow("ascii") << "Test" << 1;
        QTest::newRow("cyrillic")
            << "[Аккумуляторная №3] Начало аварии: группа 2, МСД 04 МКП 3 и ещё событий: 17" << 3;
        QTest::newRow("surrogates") << QString("Ш😀😀😀😀😀😀😀😀😀😀😀") << 2; // a pair never split across words
        QTest::newRow("empty") << "" << 0;
    }
    void compose() // read back: CRLF, headers unfolded, the subject's words decoded, the base64 body
    {
        QFETCH(QString, subject);
        QFETCH(int, words);
        const QString body = "Помещение: R\n\n" + QString("строка журнала\n").repeated(20);
        const QByteArray m = MailMessage::compose("room@x.org", {"a@x.org", "b@x.org"}, subject, body, at);
        QCOMPARE(m.count('\n'), m.count("\r\n"));
        const QString head = QString::fromUtf8(m.left(m.indexOf("\r\n\r\n"))).replace("\r\n ", " ");
        QVERIFY2(head.startsWith(
                     "Date: Tue, 08 Dec 2026 14:05:03 +0300\r\nFrom: room@x.org\r\nTo: a@x.org, b@x.org\r\n"),
                 qPrintable(head));
        QVERIFY(head.endsWith(
            "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64"));
        QString decoded;
        const QString line = head.section("Subject: ", 1).section("\r\n", 0, 0);
        auto word = QRegularExpression(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)").globalMatch(line);
        for (int n = 0; n < words || word.hasNext(); ++n) {
            const QRegularExpressionMatch w = word.next();
            QVERIFY2(w.hasMatch() && n < words && w.capturedLength() <= 75, qPrintable(line));
            decoded += QString::fromUtf8(QByteArray::fromBase64(w.captured(1).toLatin1()));
        }
        QCOMPARE(decoded, subject);
        const QByteArrayList lines = m.mid(m.indexOf("\r\n\r\n") + 4).split('\n');
        QVERIFY(std::all_of(lines.begin(), lines.end(), [](const QByteArray& l) { return l.size() <= 77; }));
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(lines.join())), body);
    }
};

QTEST_MAIN(TestMailCore)
#include "tst_mail_core.moc"
