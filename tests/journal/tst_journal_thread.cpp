// Handing events between the window's thread and the journal's: each event carries the
// values of the moment it was raised, nothing is lost or reordered, and reading the kept
// events while the journal writes is safe. Also run under ThreadSanitizer.
#include "JournalTestSupport.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

// Emits like the main window does and is connected the same way.
class Emitter : public QObject
{
    Q_OBJECT
signals:
    void addJournalEvent(Battery* battery, bool isStarted, bool isConfirmed, bool saveIntoFile);
};

namespace {

bool isRunOfNumbers(const QList<Event>& events)
{
    const QList<int> numbers = numbersIn(events);
    return numbers.isEmpty() || numbers == range(numbers.first(), numbers.size());
}

} // namespace

class TestJournalThread : public QObject
{
    Q_OBJECT
private slots:
    void eventsCarryTheValuesOfTheirMoment();
    void readingWhileTheJournalWrites();
    void keepsTheNewestAndWritesAllAtTheEnd();
};

void TestJournalThread::eventsCarryTheValuesOfTheirMoment()
{
    QTemporaryDir dir;
    AlarmThresholds thresholds;
    BatteryGroup group(3);
    std::vector<std::unique_ptr<Battery>> batteries;
    for (int i = 0; i < 4; ++i) {
        batteries.push_back(std::make_unique<Battery>(16 + i, 2, i));
        batteries.back()->setThresholds(&thresholds);
        group.addBattery(batteries.back().get());
        batteries.back()->setVoltage(12.0);
        batteries.back()->setTemperature(20.0);
    }
    RunningJournal j(dir.path());
    Emitter emitter;
    QVERIFY(QObject::connect(&emitter, SIGNAL(addJournalEvent(Battery*, bool, bool, bool)), j.journal.get(),
                             SLOT(addEvent(Battery*, bool, bool, bool)), Qt::DirectConnection));
    const int count = 300;
    QList<double> voltages, deviations;
    for (int i = 0; i < count; ++i) {
        Battery* battery = batteries[size_t(i % 4)].get();
        battery->setVoltage(10.0 + i * 0.01);
        battery->setTemperature(15.0 + (i % 40) * 0.5);
        voltages << battery->voltage();
        deviations << battery->voltage() - group.meanVoltage();
        emit emitter.addJournalEvent(battery, i % 2 == 0, i % 5 == 0, true);
        // The next reading arrives at once; the event already holds the previous one.
        battery->setVoltage(99.0);
        battery->setTemperature(-99.0);
        if (i % 3 == 0)
            QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(j.shown.size(), count, 20000);
    const JournalFormat::ReadBack back = readBackFile(j.journal->filePath());
    QCOMPARE(back.events.size(), count);
    for (int i = 0; i < count; ++i) {
        const Event& e = j.shown[i];
        QCOMPARE(e.voltage(), voltages[i]);
        QCOMPARE(e.voltDeviation(), deviations[i]);
        QCOMPARE(QList<int>({e.msdIndex(), e.mkpIndex(), e.groupNumber()}), QList<int>({2, i % 4, 3}));
        QCOMPARE(e.isStarted(), i % 2 == 0);
        QCOMPARE(e.isConfirmed(), i % 5 == 0);
        QCOMPARE(back.events[i].voltage(), qRound(voltages[i] * 100) / 100.0);
    }
}

void TestJournalThread::readingWhileTheJournalWrites()
{
    QTemporaryDir dir;
    RunningJournal j(dir.path());
    const int count = 2000;
    for (int i = 0; i < count; ++i) {
        j.journal->enqueue(numberedEvent(i));
        if (i % 25 == 0)
            QVERIFY(isRunOfNumbers(j.journal->recentEvents(1024)));
        if (i % 500 == 0)
            QVERIFY(j.journal->exportPdfTo(dir.filePath(QStringLiteral("export%1.pdf").arg(i)), 64));
    }
    // Reading the kept events goes on until the journal has written the last one.
    bool ordered = true;
    QVERIFY(QTest::qWaitFor(
        [&] {
            ordered = ordered && isRunOfNumbers(j.journal->recentEvents(1024));
            return j.shown.size() == count;
        },
        20000));
    QVERIFY(ordered);
    QCOMPARE(numbersIn(j.shown), range(0, count));
}

void TestJournalThread::keepsTheNewestAndWritesAllAtTheEnd()
{
    QTemporaryDir dir;
    {
        RunningJournal j(dir.path(), 100.0);
        const int count = Journal::eventsKept + 100;
        QVERIFY(j.add(numberedEvents(0, count), false));
        // Events not meant for the file stay out of it; the page and memory keep the newest.
        QCOMPARE(numbersIn(j.journal->recentEvents(1 << 30)), range(100, Journal::eventsKept));
        QCOMPARE(readBackFile(j.journal->filePath()).events.size(), 0);
        // Handed over, never waited for: the journal's end writes them.
        for (const Event& e : numberedEvents(count, 200))
            j.journal->enqueue(e);
    }
    QCOMPARE(numbersIn(dir.filePath("journal.html")), range(Journal::eventsKept + 100, 200));
}

QTEST_MAIN(TestJournalThread)
#include "tst_journal_thread.moc"
