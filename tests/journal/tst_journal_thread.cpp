// The journal's paragraph and read-back, and events handed over between threads (also under TSan).
#include "JournalTestSupport.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include <clocale>

namespace {
const QDateTime kTime(QDate(2026, 12, 5), QTime(14, 2, 7));
const QString kGood = QStringLiteral("<p><h>Группа 2 </h>МСД 03 : МКП 05 Начало 14:02:07 05/12/2026 12.61 В "
                                     "(-0.35 В) 24.8 С (1.3 С) Не подтверждено</p>");
const QString kGoodRead = "2 3:4 #29 05.12.2026 14:02:07 12.61(-0.35) 24.8(1.3) start unconfirmed v1 t1";

QString describe(const Event& e)
{
    return QString::asprintf(
               "%d %d:%d #%d %s %g(%g) %g(%g) %s %s v%d t%d", e.groupNumber(), e.msdIndex(), e.mkpIndex(),
               e.batteryNumber(), qPrintable(e.time().toString("dd.MM.yyyy HH:mm:ss")), e.voltage(),
               e.voltDeviation(), e.temperature(), e.tempDeviation(), e.isStarted() ? "start" : "end",
               e.isConfirmed() ? "confirmed" : "unconfirmed", e.voltState(), e.tempState()) +
           (e.limitQuantity()
                ? QString(" %1%2%3").arg(e.limitQuantity()).arg(e.limitDirection()).arg(e.limitValue())
                : QString());
}

QByteArray fileWith(const QStringList& lines)
{
    return JournalFormat::encode(kHead + lines.join('\n') + (lines.isEmpty() ? "" : "\n")) + kTail;
}
} // namespace

class TestJournal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() // numbers and dates are the file's own under a comma locale
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8"})
            if (std::setlocale(LC_ALL, name))
                break;
    }
    void paragraph_data()
    {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("html");
        const auto row = [](const char* name, Event e, const QString& text, char q = 0, char dir = 0,
                            double v = 0) {
            e.setLimit(q, dir, v); // none by default
            QTest::newRow(name) << e << "<p><h>Группа " + text + "</p>";
        };
        row("row 9, 24-hour clock",
            Event(9, 4, 2, QDateTime(QDate(2025, 1, 9), QTime(23, 59, 58)), 20, 12.61, 0.04, -0.35, true,
                  false, 1, 1),
            "2 </h>МСД 09 : МКП 05 Начало 23:59:58 09/01/2025 12.61 В (-0.35 В) 20.0 С (0.0 С) "
            "Не подтверждено");
        row("two digits, halves away from zero",
            Event(12, 8, 6, kTime, 30.05, 13.2, 5.56, 1.125, false, true, 1, 1),
            "6 </h>МСД 12 : МКП 09 Конец 14:02:07 05/12/2026 13.20 В (1.13 В) 30.1 С (5.6 С) Подтверждено");
        row("voltage limit", Event(3, 4, 2, kTime, 24.8, 14.61, 1.3, -0.35, true, false, 1, 2),
            "2 </h>МСД 03 : МКП 05 Начало 14:02:07 05/12/2026 14.61 В (-0.35 В) 24.8 С (1.3 С) "
            "Не подтверждено предел U>14.40 В",
            'U', '>', 14.4);
        row("temperature limit", Event(3, 4, 2, kTime, -12, 12.6, 0.2, 0, false, true, 3, 1),
            "2 </h>МСД 03 : МКП 05 Конец 14:02:07 05/12/2026 12.60 В (0.00 В) -12.0 С (0.2 С) Подтверждено "
            "предел T<-10.0 С",
            'T', '<', -10);
        // Communication: a module (native) or a group's device (Modbus); read back as written.
        const auto comm = [](const char* name, Event::Kind kind, int msd, int group, int address,
                             bool confirmed, const QString& text) {
            QTest::newRow(name) << Event::communication(kind, msd, group, address, kTime, confirmed)
                                << "<p><h>Связь </h>" + text + " 14:02:07 05/12/2026" +
                                       (confirmed ? " Подтверждено" : "") + "</p>";
        };
        comm("module lost", Event::Kind::CommLost, 5, 0, 0, false, "МСД 05 нет связи");
        comm("module back", Event::Kind::CommRestored, 5, 0, 0, false, "МСД 05 связь восстановлена");
        comm("device lost", Event::Kind::CommLost, 0, 2, 7, false, "Группа 2 (адрес 7) нет связи");
        comm("device lost, confirmed", Event::Kind::CommLost, 0, 6, 247, true,
             "Группа 6 (адрес 247) нет связи");
        comm("device back", Event::Kind::CommRestored, 0, 2, 7, false,
             "Группа 2 (адрес 7) связь восстановлена");
    }
    void paragraph()
    {
        QFETCH(Event, event);
        QFETCH(QString, html);
        QCOMPARE(JournalFormat::toHtml(event), html);
        if (event.kind() != Event::Kind::Alarm) {
            QCOMPARE(JournalFormat::readBack(fileWith({html}), AlarmThresholds(), 1).events,
                     QList<Event>{event});
            return;
        }
        // windows-1251: Cyrillic В is 0xC2 and С is 0xD1, not the Latin B and C.
        const QByteArray bytes = JournalFormat::encode(html);
        QVERIFY(bytes.startsWith("<p><h>\xc3\xf0\xf3\xef\xef\xe0 ") && bytes.contains(" \xc2 (") &&
                bytes.contains(" \xd1 ("));
        QCOMPARE(JournalFormat::decode(bytes), html);
    }
    void readBack_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("events");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QString>("last"); // in the description of the last event read
        const QString other = QString(kGood).replace("МСД 03", "МСД 11");
        QTest::newRow("empty") << QByteArray() << 0 << true << "";
        QTest::newRow("two, other lines skipped")
            << fileWith({"junk", kGood, "<h>x</h>", other}) << 2 << true << "2 11:4 #93 ";
        QTest::newRow("Windows line ends")
            << fileWith({kGood}).replace("\n", "\r\n") << 1 << true << kGoodRead;
        QTest::newRow("binary") << QByteArray::fromHex("7f454c460201003c7000ff0a01") << 0 << true << "";
        QTest::newRow("<p> without </p>")
            << fileWith({kGood, "<p><h>Группа 2 </h>МСД", kGood}) << 1 << false << "";
        const QString lost = "<p><h>Связь </h>МСД 05 нет связи 14:02:07 05/12/2026</p>";
        QTest::newRow("communication between alarms")
            << fileWith({kGood, lost, kGood}) << 3 << true << kGoodRead;
        QTest::newRow("communication of the wrong shape")
            << fileWith({kGood, QString(lost).replace("нет связи", "нет ответа"), kGood}) << 1 << false << "";
        QTest::newRow("device without its address")
            << fileWith({kGood, QString(lost).replace("МСД 05", "Группа 2 (адрес 0)"), kGood}) << 1 << false
            << "";
        QTest::newRow("21 pieces") << fileWith({kGood, QString(kGood).replace("Начало", "Начало "), kGood})
                                   << 1 << false << "";
        const auto edit = [](const QString& from, const QString& to, int events, const QString& last) {
            QTest::addRow("%s -> %s", qPrintable(from), qPrintable(to))
                << fileWith({QString(kGood).replace(from, to)}) << events << (events > 0) << last;
        };
        edit(" Не подтверждено", "", 0, ""); // the reading stops at the first paragraph of the wrong shape
        edit("05/12/2026", "32/12/2026", 0, "");
        edit("14:02:07", "14-02-07", 0, "");
        edit("Начало", "начало", 1, kGoodRead);
        edit("Начало", "Старт", 1, " end unconfirmed");
        edit("Не подтверждено", "подтверждено", 1, " start confirmed");
        for (const char* n :
             {"12,61 В (x", "nan В (nan", "inf В (inf", "-inf В (-inf", "1e400 В (1e400", "0x10 В (0x10"})
            edit("12.61 В (-0.35", n, 1, " 0(0) "); // not a number reads as 0, the event still read
        // States from the thresholds of the reading: 1.2 and 1.3 V, 4 and 5 degrees.
        edit("(-0.35 В) 24.8 С (1.3", "(1.20 В) 24.8 С (4.0", 1, " v1 t1");
        edit("(-0.35 В) 24.8 С (1.3", "(1.30 В) 24.8 С (5.0", 1, " v2 t2");
        edit("(-0.35 В) 24.8 С (1.3", "(-1.25 В) 24.8 С (-4.5", 1, " v2 t2");
        edit("(-0.35 В) 24.8 С (1.3", "(1.35 В) 24.8 С (5.5", 1, " v3 t3");
        // An absolute limit's fragment: the named quantity at least a warning.
        edit("Не подтверждено", "Не подтверждено предел U>12.50 В", 1, " start unconfirmed v2 t1 U>12.5");
        edit("Не подтверждено", "Подтверждено предел T<-1.0 С", 1, " start confirmed v1 t2 T<-1");
        edit("Не подтверждено", "Не подтверждено предел U>x В", 0, "");
        edit("Не подтверждено", "Не подтверждено предел T>1.0 В", 0, "");
        // Indices far outside what the program writes overflow nowhere.
        for (const char* i :
             {"-3|-3 -3:-4 #-27 ", "99999|99999 99999:99998 #899991 ", "99999999999|0 0:-1 #0 "})
            edit("Группа 2 </h>МСД 03 : МКП 05",
                 QString("Группа %1 </h>МСД %1 : МКП %1").arg(QString(i).section('|', 0, 0)), 1,
                 QString(i).section('|', 1));
    }
    void readBack()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, events);
        QFETCH(bool, complete);
        QFETCH(QString, last);
        const JournalFormat::ReadBack back = JournalFormat::readBack(file, AlarmThresholds(), 100);
        QCOMPARE(QList<int>({back.events.size(), back.total, int(back.complete)}),
                 QList<int>({events, events, int(complete)}));
        if (events == 0)
            return;
        QCOMPARE(JournalFormat::readBack(file, AlarmThresholds(), 1).events, back.events.mid(events - 1));
        const Event& e = back.events.last();
        QVERIFY2(describe(e).contains(last), qPrintable(describe(e)));
    }
    // Events hold the readings of when they were handed over, kept and written in order.
    void readingWhileTheJournalWrites()
    {
        QTemporaryDir dir;
        auto j = std::make_unique<RunningJournal>(dir.path());
        BatteryGroup group(3);
        std::vector<std::unique_ptr<Battery>> batteries;
        for (int i = 0; i < 4; ++i) {
            batteries.push_back(std::make_unique<Battery>(16 + i, 2, i));
            batteries.back()->setThresholds(&j->thresholds);
            group.addBattery(batteries.back().get());
        }
        bool ordered = true;
        const auto check = [&] {
            const QList<int> kept = numbersIn(j->journal->recentEvents(1024));
            ordered = ordered && (kept.isEmpty() || kept == range(kept.first(), kept.size()));
        };
        QList<double> deviations;
        for (int i = 0; i < 2000; ++i) {
            Battery* battery = batteries[size_t(i % 4)].get();
            battery->setVoltage(10.0 + i / 100.0);
            deviations << battery->voltage() - group.meanVoltage();
            j->journal->addEvent(battery, i % 2 == 0, i % 5 == 0);
            battery->setVoltage(99.0); // the next reading, already there when the journal writes
            if (i % 25 == 0)
                check();
        }
        QVERIFY(QTest::qWaitFor([&] { return check(), j->shown.size() == 2000; }, 20000));
        QVERIFY(ordered);
        QCOMPARE(numbersIn(j->shown) + numbersIn(j->journal->filePath()),
                 range(1000, 2000) + range(1000, 2000));
        for (int i = 0; i < 2000; ++i) {
            const Event& e = j->shown[i];
            QCOMPARE(e.voltDeviation(), deviations[i]);
            QCOMPARE(QList<int>({e.msdIndex(), e.mkpIndex(), e.groupNumber()}), QList<int>({2, i % 4, 3}));
            QVERIFY(e.isStarted() == (i % 2 == 0) && e.isConfirmed() == (i % 5 == 0));
        }
        // Events only shown are kept, not written; the memory holds the newest eventsKept.
        QVERIFY(j->add(numberedEvents(5000, Journal::eventsKept), false));
        QCOMPARE(numbersIn(j->journal->recentEvents(1 << 30)), range(5000, Journal::eventsKept));
        for (const Event& e : numberedEvents(20000, 200)) // never waited for: the journal's end writes them
            j->journal->enqueue(e);
        j.reset();
        QCOMPARE(numbersIn(dir.filePath("journal.html")), range(1000, 2000) + range(20000, 200));
    }
};

QTEST_MAIN(TestJournal)
#include "tst_journal_thread.moc"
