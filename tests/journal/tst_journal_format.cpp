// The journal's paragraph and the read-back of journal files, without threads or widgets.
#include "config/AlarmThresholds.h"
#include "journal/Event.h"
#include "journal/JournalFormat.h"

#include <QLocale>
#include <QtTest>
#include <clocale>
#include <cmath>

namespace {

const QDateTime kTime(QDate(2026, 12, 5), QTime(14, 2, 7));

Event makeEvent(int group, int msd, int mkp, double u, double dU, double t, double dT, bool started,
                bool confirmed, const QDateTime& time = kTime)
{
    return Event(msd, mkp, group, time, t, u, dT, dU, started, confirmed, 1, 1);
}

// A file as the journal writes it, with the given paragraph lines.
QByteArray fileWith(const QStringList& lines)
{
    QString text = QStringLiteral("<html>\n<body>\n");
    for (const QString& line : lines)
        text += line + QLatin1Char('\n');
    return JournalFormat::encode(text) + JournalFormat::closingTags;
}

const QString kGood = QStringLiteral(
    "<p><h>Группа 2 </h>МСД 03 : МКП 05 Начало 14:02:07 05/12/2026 12.61 В (-0.35 В) 24.8 С (1.3 С) Не "
    "подтверждено</p>");

} // namespace

class TestJournalFormat : public QObject
{
    Q_OBJECT
private slots:
    void paragraph_data();
    void paragraph();
    void unitLettersAreCyrillicInTheFile();
    void fullStopUnderCommaLocales();
    void skeletons();
    void readBack_data();
    void readBack();
    void readBackFields();
    void statesFromThresholds_data();
    void statesFromThresholds();
    void roundTrip();
    void keepsOnlyTheNewest();
    void numbersThatAreNotRead_data();
    void numbersThatAreNotRead();
    void indicesFromTheFile_data();
    void indicesFromTheFile();
};

void TestJournalFormat::paragraph_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<QString>("html");
    QTest::newRow("documented example") << makeEvent(2, 3, 4, 12.61, -0.35, 24.8, 1.3, true, false) << kGood;
    QTest::newRow("group 0, first battery")
        << makeEvent(0, 0, 0, 0.0, 0.0, 0.0, 0.0, true, false)
        << "<p><h>Группа 0 </h>МСД 00 : МКП 01 Начало 14:02:07 05/12/2026 0.00 В (0.00 В) 0.0 С (0.0 С) Не "
           "подтверждено</p>";
    QTest::newRow("row 12, position 7")
        << makeEvent(6, 12, 7, 13.2, 1.25, 30.05, 5.56, false, true)
        << "<p><h>Группа 6 </h>МСД 12 : МКП 08 Конец 14:02:07 05/12/2026 13.20 В (1.25 В) 30.1 С (5.6 С) "
           "Подтверждено</p>";
    QTest::newRow("row 9, position 1")
        << makeEvent(1, 9, 1, 1, 0, 0, 0, true, true)
        << "<p><h>Группа 1 </h>МСД 09 : МКП 02 Начало 14:02:07 05/12/2026 1.00 В (0.00 В) 0.0 С (0.0 С) "
           "Подтверждено</p>";
    QTest::newRow("negatives") << makeEvent(3, 15, 6, -1.5, -12.345, -10.04, -7.26, false, false)
                               << "<p><h>Группа 3 </h>МСД 15 : МКП 07 Конец 14:02:07 05/12/2026 -1.50 В "
                                  "(-12.35 В) -10.0 С (-7.3 С) Не "
                                  "подтверждено</p>";
    QTest::newRow("late evening, 24-hour clock")
        << makeEvent(4, 1, 2, 2.22, 0.01, 20, 0.04, true, false,
                     QDateTime(QDate(2025, 1, 9), QTime(23, 59, 58)))
        << "<p><h>Группа 4 </h>МСД 01 : МКП 03 Начало 23:59:58 09/01/2025 2.22 В (0.01 В) 20.0 С (0.0 С) Не "
           "подтверждено</p>";
}

void TestJournalFormat::paragraph()
{
    QFETCH(Event, event);
    QFETCH(QString, html);
    QCOMPARE(JournalFormat::toHtml(event), html);
}

void TestJournalFormat::unitLettersAreCyrillicInTheFile()
{
    const QByteArray bytes = JournalFormat::encode(kGood);
    // В is 0xC2 and С is 0xD1 in windows-1251; the Latin B and C would be 0x42 and 0x43.
    QVERIFY(bytes.contains(" \xc2 ("));
    QVERIFY(bytes.contains(" \xc2) "));
    QVERIFY(bytes.contains(" \xd1 ("));
    QVERIFY(bytes.contains(" \xd1) "));
    QVERIFY(bytes.startsWith("<p><h>\xc3\xf0\xf3\xef\xef\xe0 2 </h>\xcc\xd1\xc4 03"));
    QCOMPARE(JournalFormat::decode(bytes), kGood);
}

void TestJournalFormat::fullStopUnderCommaLocales()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const char* found = nullptr;
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"})
        if ((found = std::setlocale(LC_ALL, name)))
            break;
    const QString html = JournalFormat::toHtml(makeEvent(2, 3, 4, 12.61, -0.35, 24.8, 1.3, true, false));
    const JournalFormat::ReadBack back = JournalFormat::readBack(fileWith({html}), AlarmThresholds(), 10);
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(previous);
    QCOMPARE(html, kGood);
    QCOMPARE(back.events.size(), 1);
    QCOMPARE(back.events[0].voltage(), 12.61);
    QCOMPARE(back.events[0].voltDeviation(), -0.35);
    if (!found)
        qInfo("no comma-decimal C locale installed; only Qt's default locale was changed");
}

void TestJournalFormat::skeletons()
{
    QCOMPARE(JournalFormat::createdSkeleton(),
             QByteArray("<html>\n<body>\n<style>h {font-family: Times New Roman;font-weight: bold;font-size: "
                        "14pt;}</style>\n</body>\n</html>"));
    QCOMPARE(JournalFormat::rotatedSkeleton(), QByteArray("<html>\n<body>\n</body>\n</html>"));
}

void TestJournalFormat::readBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("events");
    QTest::addColumn<bool>("complete");

    const QString other = QString(kGood).replace("МСД 03", "МСД 11");
    QTest::newRow("empty") << QByteArray() << 0 << true;
    QTest::newRow("skeleton only") << JournalFormat::createdSkeleton() << 0 << true;
    QTest::newRow("two paragraphs") << fileWith({kGood, other}) << 2 << true;
    QTest::newRow("lines without <p> are skipped")
        << fileWith({"junk", kGood, "<h>x</h>", other}) << 2 << true;
    QTest::newRow("<p> without </p> stops at that line")
        << fileWith({kGood, "<p><h>Группа 2 </h>МСД 03 : МКП", other}) << 1 << false;
    QTest::newRow("21 pieces stop") << fileWith({kGood, QString(kGood).replace("Начало", "Начало "), other})
                                    << 1 << false;
    QTest::newRow("extra space at the start stops")
        << fileWith({QString(kGood).replace("<p>", "<p> "), other}) << 0 << false;
    QTest::newRow("18 pieces stop") << fileWith({QString(kGood).replace(" Не подтверждено", "")}) << 0
                                    << false;
    QTest::newRow("unreadable time stops")
        << fileWith({kGood, QString(kGood).replace("05/12/2026", "32/12/2026"), other}) << 1 << false;
    QTest::newRow("time in another shape stops")
        << fileWith({QString(kGood).replace("14:02:07", "14-02-07")}) << 0 << false;
    QTest::newRow("text around the paragraph")
        << fileWith({"before " + kGood + " after</p>", other}) << 2 << true;
    QTest::newRow("Windows line ends")
        << QByteArray(fileWith({kGood, other})).replace("\n", "\r\n") << 2 << true;
    QTest::newRow("no line break at all") << JournalFormat::encode(kGood) << 1 << true;
    QTest::newRow("utf-8 instead of windows-1251")
        << QByteArray("<html>\n<body>\n" + kGood.toUtf8() + "\n" + other.toUtf8() + "\n</body>\n</html>") << 2
        << true;
    const char binary[] = "\x7f"
                          "ELF\x02\x01\x01\x00<p\x00\xff\xfe\n\x01\x02";
    QTest::newRow("binary") << QByteArray(binary, sizeof binary - 1) << 0 << true;
}

void TestJournalFormat::readBack()
{
    QFETCH(QByteArray, file);
    QFETCH(int, events);
    QFETCH(bool, complete);
    const JournalFormat::ReadBack back = JournalFormat::readBack(file, AlarmThresholds(), 100);
    QCOMPARE(back.events.size(), events);
    QCOMPARE(back.total, events);
    QCOMPARE(back.complete, complete);
}

void TestJournalFormat::readBackFields()
{
    struct Case
    {
        QString paragraph;
        bool started;
        bool confirmed;
    };
    const QList<Case> cases = {
        {kGood, true, false},
        {QString(kGood).replace("Начало", "начало"), true, false},
        {QString(kGood).replace("Начало", "НАЧАЛО"), true, false},
        {QString(kGood).replace("Начало", "Старт"), false, false},
        {QString(kGood).replace("Не подтверждено", "ПОДТВЕРЖДЕНО"), true, true},
        {QString(kGood).replace("Не подтверждено", "подтверждено"), true, true},
        {QString(kGood).replace("Не подтверждено", "Подтверждено"), true, true},
        {QString(kGood).replace("Не подтверждено", "Верно"), true, false},
    };
    QStringList lines;
    for (const Case& c : cases)
        lines << c.paragraph;
    const JournalFormat::ReadBack back = JournalFormat::readBack(fileWith(lines), AlarmThresholds(), 100);
    QCOMPARE(back.events.size(), cases.size());
    for (int i = 0; i < cases.size(); ++i) {
        QCOMPARE(back.events[i].isStarted(), cases[i].started);
        QCOMPARE(back.events[i].isConfirmed(), cases[i].confirmed);
    }
    const Event& e = back.events.first();
    QCOMPARE(e.groupNumber(), 2);
    QCOMPARE(e.msdIndex(), 3);
    QCOMPARE(e.mkpIndex(), 4);
    QCOMPARE(e.time(), kTime);
    QCOMPARE(e.voltage(), 12.61);
    QCOMPARE(e.voltDeviation(), -0.35);
    QCOMPARE(e.temperature(), 24.8);
    QCOMPARE(e.tempDeviation(), 1.3);

    // Numbers that are not numbers read as 0; the event is still read.
    const QString garbled =
        QString(kGood).replace("12.61", "12,61").replace("(-0.35", "(x").replace("МСД 03", "МСД zz");
    const JournalFormat::ReadBack odd = JournalFormat::readBack(fileWith({garbled}), AlarmThresholds(), 10);
    QCOMPARE(odd.events.size(), 1);
    QCOMPARE(odd.events[0].voltage(), 0.0);
    QCOMPARE(odd.events[0].voltDeviation(), 0.0);
    QCOMPARE(odd.events[0].msdIndex(), 0);
}

void TestJournalFormat::statesFromThresholds_data()
{
    QTest::addColumn<double>("dU");
    QTest::addColumn<double>("dT");
    QTest::addColumn<int>("voltState");
    QTest::addColumn<int>("tempState");
    // Defaults: voltage 1.2 warning, 1.3 emergency both ways; temperature 4 and 5.
    QTest::newRow("normal") << 0.5 << 1.0 << 1 << 1;
    QTest::newRow("at the warning line") << 1.2 << 4.0 << 1 << 1;
    QTest::newRow("warning above") << 1.25 << 4.5 << 2 << 2;
    QTest::newRow("warning below") << -1.25 << -4.5 << 2 << 2;
    QTest::newRow("emergency above") << 1.35 << 5.5 << 3 << 3;
    QTest::newRow("emergency below") << -1.31 << -5.1 << 3 << 3;
}

void TestJournalFormat::statesFromThresholds()
{
    QFETCH(double, dU);
    QFETCH(double, dT);
    QFETCH(int, voltState);
    QFETCH(int, tempState);
    const Event source = makeEvent(1, 0, 0, 12.0, dU, 20.0, dT, true, false);
    const JournalFormat::ReadBack back =
        JournalFormat::readBack(fileWith({JournalFormat::toHtml(source)}), AlarmThresholds(), 10);
    QCOMPARE(back.events.size(), 1);
    QCOMPARE(back.events[0].voltState(), voltState);
    QCOMPARE(back.events[0].tempState(), tempState);

    // The states follow the thresholds of the reading, not those of the writing.
    AlarmThresholds wide;
    wide.voltHighEmergency = wide.voltLowEmergency = wide.voltHighWarning = wide.voltLowWarning = 100;
    wide.tempEmergency = wide.tempWarning = 100;
    const JournalFormat::ReadBack calm =
        JournalFormat::readBack(fileWith({JournalFormat::toHtml(source)}), wide, 10);
    QCOMPARE(calm.events[0].voltState(), 1);
    QCOMPARE(calm.events[0].tempState(), 1);
}

void TestJournalFormat::roundTrip()
{
    QList<Event> written;
    QStringList lines;
    for (int i = 0; i < 128; ++i) {
        const QDateTime time = kTime.addSecs(i * 3607);
        const double dU = (i % 7 - 3) * 0.45, dT = (i % 5 - 2) * 2.7;
        Event e(i / 8, i % 8, i % 7, time, 20.5 + i % 9, 12.25 + (i % 3) * 0.01, dT, dU, i % 2 == 0,
                i % 3 == 0, JournalFormat::tempStateOf(dT, AlarmThresholds()),
                JournalFormat::voltStateOf(dU, AlarmThresholds()));
        written << e;
        lines << JournalFormat::toHtml(e);
    }
    const JournalFormat::ReadBack back = JournalFormat::readBack(fileWith(lines), AlarmThresholds(), 1000);
    QVERIFY(back.complete);
    QCOMPARE(back.events.size(), written.size());
    for (int i = 0; i < written.size(); ++i)
        QCOMPARE(back.events[i], written[i]);
}

void TestJournalFormat::keepsOnlyTheNewest()
{
    QStringList lines;
    for (int i = 0; i < 10; ++i)
        lines << JournalFormat::toHtml(makeEvent(1, i, 0, i, 0, 0, 0, true, false));
    const JournalFormat::ReadBack back = JournalFormat::readBack(fileWith(lines), AlarmThresholds(), 3);
    QCOMPARE(back.total, 10);
    QCOMPARE(back.events.size(), 3);
    QCOMPARE(back.events[0].msdIndex(), 7);
    QCOMPARE(back.events[2].msdIndex(), 9);
}

void TestJournalFormat::indicesFromTheFile_data()
{
    QTest::addColumn<QStringList>("texts"); // group, row, position as in the file
    QTest::addColumn<int>("groupNumber");
    QTest::addColumn<int>("msdIndex");
    QTest::addColumn<int>("mkpIndex");
    QTest::newRow("as written") << QStringList{"2", "03", "05"} << 2 << 3 << 4;
    QTest::newRow("negative") << QStringList{"-1", "-7", "-3"} << -1 << -7 << -4;
    QTest::newRow("largest read") << QStringList{"99999", "99999", "99999"} << 99999 << 99999 << 99998;
    QTest::newRow("smallest read") << QStringList{"-99999", "-99999", "-99999"} << -99999 << -99999
                                   << -100000;
    QTest::newRow("one past the largest") << QStringList{"100000", "100000", "100000"} << 0 << 0 << -1;
    QTest::newRow("largest int") << QStringList{"2147483647", "2147483647", "2147483647"} << 0 << 0 << -1;
    QTest::newRow("smallest int") << QStringList{"-2147483648", "-2147483648", "-2147483648"} << 0 << 0 << -1;
    QTest::newRow("past int") << QStringList{"99999999999", "99999999999", "99999999999"} << 0 << 0 << -1;
}

// Indices far outside what the program writes must overflow neither on the way in nor in the
// battery number and the exported paragraph made from them.
void TestJournalFormat::indicesFromTheFile()
{
    QFETCH(QStringList, texts);
    QFETCH(int, groupNumber);
    QFETCH(int, msdIndex);
    QFETCH(int, mkpIndex);
    const QString paragraph = QString(kGood)
                                  .replace("Группа 2 ", "Группа " + texts[0] + " ")
                                  .replace("МСД 03 ", "МСД " + texts[1] + " ")
                                  .replace("МКП 05 ", "МКП " + texts[2] + " ");
    const JournalFormat::ReadBack back =
        JournalFormat::readBack(fileWith({paragraph}), AlarmThresholds(), 10);
    QCOMPARE(back.events.size(), 1);
    const Event& e = back.events[0];
    QCOMPARE(e.groupNumber(), groupNumber);
    QCOMPARE(e.msdIndex(), msdIndex);
    QCOMPARE(e.mkpIndex(), mkpIndex);
    QCOMPARE(e.batteryNumber(), msdIndex * 8 + mkpIndex + 1);
    QVERIFY(JournalFormat::toHtml(e).contains(QString::number(mkpIndex + 1) + " Начало "));
}

QTEST_GUILESS_MAIN(TestJournalFormat)
#include "tst_journal_format.moc"

void TestJournalFormat::numbersThatAreNotRead_data()
{
    QTest::addColumn<QString>("voltage");
    QTest::addColumn<double>("read");
    QTest::newRow("nan") << "nan" << 0.0;
    QTest::newRow("NaN") << "NaN" << 0.0;
    QTest::newRow("inf") << "inf" << 0.0;
    QTest::newRow("-inf") << "-inf" << 0.0;
    QTest::newRow("1e400") << "1e400" << 0.0;
    QTest::newRow("0x10") << "0x10" << 0.0;
    QTest::newRow("ordinary") << "12.75" << 12.75;
}

void TestJournalFormat::numbersThatAreNotRead()
{
    QFETCH(QString, voltage);
    QFETCH(double, read);
    const QString paragraph = QString(kGood).replace("12.61 В (-0.35 В)", voltage + " В (" + voltage + " В)");
    const JournalFormat::ReadBack back =
        JournalFormat::readBack(fileWith({paragraph}), AlarmThresholds(), 10);
    QCOMPARE(back.events.size(), 1);
    QCOMPARE(back.events[0].voltage(), read);
    QCOMPARE(back.events[0].voltDeviation(), read);
    QVERIFY(std::isfinite(back.events[0].voltDeviation()));
}
