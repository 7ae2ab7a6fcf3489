// The journal's paragraph and the read-back of journal files, without threads or widgets.
#include "config/AlarmThresholds.h"
#include "journal/JournalFormat.h"

#include <QtTest>
#include <algorithm>
#include <clocale>

namespace {

const QDateTime kTime(QDate(2026, 12, 5), QTime(14, 2, 7));
const QString kGood = QStringLiteral("<p><h>Группа 2 </h>МСД 03 : МКП 05 Начало 14:02:07 05/12/2026 12.61 В "
                                     "(-0.35 В) 24.8 С (1.3 С) Не подтверждено</p>");
// kGood read back, as described below.
const QString kGoodRead = "2 3:4 #29 05.12.2026 14:02:07 12.61(-0.35) 24.8(1.3) start unconfirmed v1 t1";

QString describe(const Event& e)
{
    return QStringLiteral("%1 %2:%3 #%4 %5 %6(%7) %8(%9) %10 %11 v%12 t%13")
        .arg(e.groupNumber())
        .arg(e.msdIndex())
        .arg(e.mkpIndex())
        .arg(e.batteryNumber())
        .arg(e.time().toString("dd.MM.yyyy HH:mm:ss"))
        .arg(e.voltage())
        .arg(e.voltDeviation())
        .arg(e.temperature())
        .arg(e.tempDeviation())
        .arg(e.isStarted() ? "start" : "end", e.isConfirmed() ? "confirmed" : "unconfirmed")
        .arg(e.voltState())
        .arg(e.tempState());
}

// A file as the journal writes it, with the given paragraph lines.
QByteArray fileWith(const QStringList& lines)
{
    return JournalFormat::encode("<html>\n<body>\n" + lines.join('\n') + (lines.isEmpty() ? "" : "\n")) +
           "</body>\n</html>";
}

// kGood with `from` replaced, alone in a file.
QByteArray changed(const QString& from, const QString& to)
{
    return fileWith({QString(kGood).replace(from, to)});
}

} // namespace

class TestJournalFormat : public QObject
{
    Q_OBJECT
private slots:
    void paragraph_data();
    void paragraph();
    void readBack_data();
    void readBack();
    void roundTripUnderACommaLocale();
};

void TestJournalFormat::paragraph_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<QString>("html");
    const auto row = [](const char* name, const Event& e, const QString& middle, const QString& end) {
        QTest::newRow(name) << e << "<p><h>Группа " + middle + " В) " + end + "</p>";
    };
    row("example", Event(3, 4, 2, kTime, 24.8, 12.61, 1.3, -0.35, true, false, 1, 1),
        "2 </h>МСД 03 : МКП 05 Начало 14:02:07 05/12/2026 12.61 В (-0.35", "24.8 С (1.3 С) Не подтверждено");
    row("first battery, zeros", Event(0, 0, 0, kTime, 0, 0, 0, 0, true, false, 1, 1),
        "0 </h>МСД 00 : МКП 01 Начало 14:02:07 05/12/2026 0.00 В (0.00", "0.0 С (0.0 С) Не подтверждено");
    row("two-digit row and position, halves away from zero",
        Event(12, 8, 6, kTime, 30.05, 13.2, 5.56, 1.125, false, true, 1, 1),
        "6 </h>МСД 12 : МКП 09 Конец 14:02:07 05/12/2026 13.20 В (1.13", "30.1 С (5.6 С) Подтверждено");
    row("negatives", Event(15, 7, 3, kTime, -10.04, -1.5, -7.26, -12.345, false, false, 1, 1),
        "3 </h>МСД 15 : МКП 08 Конец 14:02:07 05/12/2026 -1.50 В (-12.35",
        "-10.0 С (-7.3 С) Не подтверждено");
    row("late evening, 24-hour clock",
        Event(9, 2, 4, QDateTime(QDate(2025, 1, 9), QTime(23, 59, 58)), 20, 2.22, 0.04, 0.01, true, false, 1,
              1),
        "4 </h>МСД 09 : МКП 03 Начало 23:59:58 09/01/2025 2.22 В (0.01", "20.0 С (0.0 С) Не подтверждено");
}

void TestJournalFormat::paragraph()
{
    QFETCH(Event, event);
    QFETCH(QString, html);
    QCOMPARE(JournalFormat::toHtml(event), html);
    // windows-1251 in the file: Cyrillic В is 0xC2 and С is 0xD1, not the Latin B and C.
    const QByteArray bytes = JournalFormat::encode(html);
    QVERIFY(bytes.startsWith("<p><h>\xc3\xf0\xf3\xef\xef\xe0 "));
    QVERIFY(bytes.contains(" \xc2 (") && bytes.contains(" \xc2) ") && bytes.contains(" \xd1 ("));
    QCOMPARE(JournalFormat::decode(bytes), html);
}

void TestJournalFormat::readBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("events");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("last"); // in the description of the last event read

    const QString other = QString(kGood).replace("МСД 03", "МСД 11");
    QTest::newRow("empty") << QByteArray() << 0 << true << "";
    QTest::newRow("no paragraphs") << fileWith({}) << 0 << true << "";
    QTest::newRow("two paragraphs") << fileWith({kGood, other}) << 2 << true << "2 11:4 #93 ";
    QTest::newRow("lines without <p> skipped")
        << fileWith({"junk", kGood, "<h>x</h>"}) << 1 << true << kGoodRead;
    QTest::newRow("text around the paragraph")
        << fileWith({"a " + kGood + " b</p>"}) << 1 << true << kGoodRead;
    QTest::newRow("Windows line ends") << fileWith({kGood}).replace("\n", "\r\n") << 1 << true << kGoodRead;
    QTest::newRow("no line break at all") << JournalFormat::encode(kGood) << 1 << true << kGoodRead;
    QTest::newRow("utf-8") << "<html>\n" + kGood.toUtf8() + "\n" + other.toUtf8() << 2 << true << "";
    QTest::newRow("binary") << QByteArray("\x7f"
                                          "ELF\x02\x01\x00<p\x00\xff\n\x01",
                                          13)
                            << 0 << true << "";
    // Stop rules: the reading ends at the first paragraph of the wrong shape.
    QTest::newRow("<p> without </p> stops")
        << fileWith({kGood, "<p><h>Группа 2 </h>МСД 03 : МКП", kGood}) << 1 << false << "";
    QTest::newRow("21 pieces stop") << fileWith({kGood, QString(kGood).replace("Начало", "Начало "), kGood})
                                    << 1 << false << "";
    QTest::newRow("space after <p> stops") << changed("<p>", "<p> ") << 0 << false << "";
    QTest::newRow("18 pieces stop") << changed(" Не подтверждено", "") << 0 << false << "";
    QTest::newRow("no such day stops") << changed("05/12/2026", "32/12/2026") << 0 << false << "";
    QTest::newRow("time in another shape stops") << changed("14:02:07", "14-02-07") << 0 << false << "";
    // The words, as other writers spelled them.
    QTest::newRow("начало") << changed("Начало", "начало") << 1 << true << kGoodRead;
    QTest::newRow("НАЧАЛО") << changed("Начало", "НАЧАЛО") << 1 << true << kGoodRead;
    QTest::newRow("another word is an end") << changed("Начало", "Старт") << 1 << true << " end unconfirmed";
    for (const char* word : {"ПОДТВЕРЖДЕНО", "подтверждено", "Подтверждено"})
        QTest::addRow("%s", word) << changed("Не подтверждено", word) << 1 << true << " start confirmed";
    QTest::newRow("another word is unconfirmed")
        << changed("Не подтверждено", "Верно") << 1 << true << " start unconfirmed";
    // Numbers that are not numbers read as 0; the event is still read.
    QTest::newRow("garbled")
        << fileWith(
               {QString(kGood).replace("12.61", "12,61").replace("(-0.35", "(x").replace("МСД 03", "МСД zz")})
        << 1 << true << "2 0:4 #5 05.12.2026 14:02:07 0(0) ";
    for (const char* number : {"nan", "NaN", "inf", "-inf", "1e400", "0x10"})
        QTest::addRow("%s", number) << changed("12.61 В (-0.35", QString("%1 В (%1").arg(number)) << 1 << true
                                    << " 0(0) ";
    QTest::newRow("ordinary number") << changed("12.61 В (-0.35", "12.75 В (12.75") << 1 << true
                                     << " 12.75(12.75) ";
    // States come from the thresholds of the reading: 1.2 and 1.3 V, 4 and 5 degrees.
    const auto deviations = [](const char* dU, const char* dT) {
        return changed("(-0.35 В) 24.8 С (1.3", QString("(%1 В) 24.8 С (%2").arg(dU, dT));
    };
    QTest::newRow("at the warning line") << deviations("1.20", "4.0") << 1 << true << " v1 t1";
    QTest::newRow("at the emergency line") << deviations("1.30", "5.0") << 1 << true << " v2 t2";
    QTest::newRow("warning above") << deviations("1.25", "4.5") << 1 << true << " v2 t2";
    QTest::newRow("warning below") << deviations("-1.25", "-4.5") << 1 << true << " v2 t2";
    QTest::newRow("emergency above") << deviations("1.35", "5.5") << 1 << true << " v3 t3";
    QTest::newRow("emergency below") << deviations("-1.31", "-5.1") << 1 << true << " v3 t3";
    // Indices far outside what the program writes must overflow nowhere.
    const auto indices = [](const char* group, const char* row, const char* position) {
        return fileWith({QString(kGood)
                             .replace("Группа 2 ", QString("Группа %1 ").arg(group))
                             .replace("МСД 03 ", QString("МСД %1 ").arg(row))
                             .replace("МКП 05 ", QString("МКП %1 ").arg(position))});
    };
    QTest::newRow("negative indices") << indices("-1", "-7", "-3") << 1 << true << "-1 -7:-4 #-59 ";
    QTest::newRow("largest index") << indices("99999", "99999", "99999") << 1 << true
                                   << "99999 99999:99998 #899991 ";
    QTest::newRow("smallest index") << indices("-99999", "-99999", "-99999") << 1 << true
                                    << "-99999 -99999:-100000 #-899991 ";
    QTest::newRow("one past the largest")
        << indices("100000", "100000", "100000") << 1 << true << "0 0:-1 #0 ";
    QTest::newRow("smallest int") << indices("-2147483648", "-2147483648", "-2147483648") << 1 << true
                                  << "0 0:-1 #0 ";
    QTest::newRow("past int") << indices("99999999999", "99999999999", "99999999999") << 1 << true
                              << "0 0:-1 #0 ";
}

void TestJournalFormat::readBack()
{
    QFETCH(QByteArray, file);
    QFETCH(int, events);
    QFETCH(bool, complete);
    QFETCH(QString, last);
    const JournalFormat::ReadBack back = JournalFormat::readBack(file, AlarmThresholds(), 100);
    QCOMPARE(back.events.size(), events);
    QCOMPARE(back.total, events);
    QCOMPARE(back.complete, complete);
    if (events == 0)
        return;
    QVERIFY2(describe(back.events.last()).contains(last), qPrintable(describe(back.events.last())));
    // The paragraph exported from it overflows nowhere either.
    const Event& e = back.events.last();
    QVERIFY(JournalFormat::toHtml(e).contains(QString::number(e.mkpIndex() + 1) +
                                              (e.isStarted() ? " Начало " : " Конец ")));
}

void TestJournalFormat::roundTripUnderACommaLocale()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"})
        if (std::setlocale(LC_ALL, name))
            break;
    QList<Event> written;
    QStringList lines;
    for (int i = 0; i < 128; ++i) {
        const double dU = (i % 7 - 3) * 0.45, dT = (i % 5 - 2) * 2.7;
        written << Event(i / 8, i % 8, i % 7, kTime.addSecs(i * 3607), 20.5 + i % 9, 12.25 + (i % 3) * 0.01,
                         dT, dU, i % 2 == 0, i % 3 == 0, JournalFormat::tempStateOf(dT, AlarmThresholds()),
                         JournalFormat::voltStateOf(dU, AlarmThresholds()));
        lines << JournalFormat::toHtml(written.last());
    }
    const JournalFormat::ReadBack back = JournalFormat::readBack(fileWith(lines), AlarmThresholds(), 1000);
    const JournalFormat::ReadBack newest = JournalFormat::readBack(fileWith(lines), AlarmThresholds(), 3);
    AlarmThresholds wide;
    wide.voltHighEmergency = wide.voltLowEmergency = wide.voltHighWarning = wide.voltLowWarning = 100;
    wide.tempEmergency = wide.tempWarning = 100;
    const JournalFormat::ReadBack calm = JournalFormat::readBack(fileWith(lines), wide, 1000);
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(previous);

    QVERIFY(back.complete);
    QCOMPARE(back.events, written);
    QCOMPARE(newest.total, 128);
    QCOMPARE(newest.events, written.mid(125));
    for (const Event& e : calm.events)
        QVERIFY(e.voltState() == 1 && e.tempState() == 1);
    QVERIFY(std::any_of(written.begin(), written.end(), [](const Event& e) { return e.voltState() == 3; }));
}

QTEST_GUILESS_MAIN(TestJournalFormat)
#include "tst_journal_format.moc"
