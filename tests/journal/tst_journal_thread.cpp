// Events handed between the window's thread and the journal's: values of the moment they were
// raised, nothing lost or reordered, kept events safe to read meanwhile. Also run under TSan.
#include "JournalTestSupport.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

class TestJournalThread : public QObject
{
    Q_OBJECT
private slots:
    void readingWhileTheJournalWrites();
    void keepsTheNewestAndWritesAllAtTheEnd();
};

void TestJournalThread::readingWhileTheJournalWrites()
{
    QTemporaryDir dir;
    RunningJournal j(dir.path());
    AlarmThresholds thresholds;
    BatteryGroup group(3);
    std::vector<std::unique_ptr<Battery>> batteries;
    for (int i = 0; i < 4; ++i) {
        batteries.push_back(std::make_unique<Battery>(16 + i, 2, i));
        batteries.back()->setThresholds(&thresholds);
        group.addBattery(batteries.back().get());
    }
    bool ordered = true;
    const auto check = [&] {
        const QList<int> kept = numbersIn(j.journal->recentEvents(1024));
        ordered = ordered && (kept.isEmpty() || kept == range(kept.first(), kept.size()));
    };
    QList<double> deviations;
    for (int i = 0; i < 2000; ++i) {
        Battery* battery = batteries[size_t(i % 4)].get();
        battery->setVoltage(10.0 + i / 100.0);
        deviations << battery->voltage() - group.meanVoltage();
        j.journal->addEvent(battery, i % 2 == 0, i % 5 == 0);
        battery->setVoltage(99.0); // the next reading, already there when the journal writes
        if (i % 25 == 0)
            check();
        if (i % 500 == 0)
            QVERIFY(j.journal->exportPdfTo(dir.filePath(QStringLiteral("export%1.pdf").arg(i)), 64));
    }
    QVERIFY(QTest::qWaitFor([&] { return check(), j.shown.size() == 2000; }, 20000));
    QVERIFY(ordered);
    QCOMPARE(numbersIn(j.shown), range(1000, 2000));
    QCOMPARE(numbersIn(j.journal->filePath()), range(1000, 2000));
    for (int i = 0; i < 2000; ++i) {
        const Event& e = j.shown[i];
        QCOMPARE(e.voltDeviation(), deviations[i]);
        QCOMPARE(QList<int>({e.msdIndex(), e.mkpIndex(), e.groupNumber()}), QList<int>({2, i % 4, 3}));
        QVERIFY(e.isStarted() == (i % 2 == 0) && e.isConfirmed() == (i % 5 == 0));
    }
}

void TestJournalThread::keepsTheNewestAndWritesAllAtTheEnd()
{
    QTemporaryDir dir;
    {
        RunningJournal j(dir.path(), 100.0);
        const int count = Journal::eventsKept + 100;
        QVERIFY(j.add(numberedEvents(0, count), false));
        // Not meant for the file: kept in memory, newest only, and not written.
        QCOMPARE(numbersIn(j.journal->recentEvents(1 << 30)), range(100, Journal::eventsKept));
        QCOMPARE(numbersIn(j.journal->filePath()), QList<int>());
        for (const Event& e : numberedEvents(count, 200)) // never waited for: the journal's end writes them
            j.journal->enqueue(e);
    }
    QCOMPARE(numbersIn(dir.filePath("journal.html")), range(Journal::eventsKept + 100, 200));
}

QTEST_MAIN(TestJournalThread)
#include "tst_journal_thread.moc"
