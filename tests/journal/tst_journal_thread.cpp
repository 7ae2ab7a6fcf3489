// Handing events between the window's thread and the journal's: each event carries the
// values of the moment it was raised, nothing is lost or reordered, and reading the kept
// events while the journal writes is safe. Also run under ThreadSanitizer.
#include "JournalTestSupport.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "journal/Journal.h"

#include <QtTest>

// Emits like the main window does and is connected the same way.
class Emitter : public QObject
{
    Q_OBJECT
signals:
    void addJournalEvent(Battery* battery, bool isStarted, bool isConfirmed, bool saveIntoFile);
};

namespace {

struct Model
{
    AlarmThresholds thresholds;
    BatteryGroup group{3};
    QList<Battery*> batteries;
    Model()
    {
        for (int i = 0; i < 4; ++i) {
            batteries << new Battery(16 + i, 2, i);
            batteries.last()->setThresholds(&thresholds);
            group.addBattery(batteries.last());
            batteries.last()->setVoltage(12.0);
            batteries.last()->setTemperature(20.0);
        }
    }
    ~Model() { qDeleteAll(batteries); }
};

bool isRunOfNumbers(const QList<Event>& events)
{
    for (int i = 1; i < events.size(); ++i)
        if (numberOf(events[i]) != numberOf(events[i - 1]) + 1)
            return false;
    return true;
}

} // namespace

class TestJournalThread : public QObject
{
    Q_OBJECT
private slots:
    void eventsCarryTheValuesOfTheirMoment();
    void readingWhileTheJournalWrites();
    void destructionWritesWhatWasHandedOver();
    void keepsOnlyTheNewestInMemory();
};

void TestJournalThread::eventsCarryTheValuesOfTheirMoment()
{
    QTemporaryDir dir;
    JournalSettings s;
    Model model;
    Journal journal(&s.settings, dir.path());
    Emitter emitter;
    QVERIFY(QObject::connect(&emitter, SIGNAL(addJournalEvent(Battery*, bool, bool, bool)), &journal,
                             SLOT(addEvent(Battery*, bool, bool, bool)), Qt::DirectConnection));
    EventCollector collector;
    QObject::connect(&journal, &Journal::updateJournalWidget, &collector,
                     &EventCollector::updateJournalWidget, Qt::QueuedConnection);

    const int count = 300;
    QList<double> voltages, deviations;
    for (int i = 0; i < count; ++i) {
        Battery* battery = model.batteries[i % 4];
        battery->setVoltage(10.0 + i * 0.01);
        battery->setTemperature(15.0 + (i % 40) * 0.5);
        voltages << battery->voltage();
        deviations << battery->voltage() - model.group.meanVoltage();
        emit emitter.addJournalEvent(battery, i % 2 == 0, i % 5 == 0, true);
        // The next reading arrives at once; the event already holds the previous one.
        battery->setVoltage(99.0);
        battery->setTemperature(-99.0);
        if (i % 3 == 0)
            QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(collector.events.size(), count, 20000);
    for (int i = 0; i < count; ++i) {
        const Event& e = collector.events[i];
        QCOMPARE(e.voltage(), voltages[i]);
        QCOMPARE(e.voltDeviation(), deviations[i]);
        QCOMPARE(e.mkpIndex(), i % 4);
        QCOMPARE(e.msdIndex(), 2);
        QCOMPARE(e.groupNumber(), 3);
        QCOMPARE(e.isStarted(), i % 2 == 0);
        QCOMPARE(e.isConfirmed(), i % 5 == 0);
    }
    const JournalFormat::ReadBack back = readBackFile(journal.filePath());
    QCOMPARE(back.events.size(), count);
    for (int i = 0; i < count; ++i)
        QCOMPARE(back.events[i].voltage(), qRound(voltages[i] * 100) / 100.0);
}

void TestJournalThread::readingWhileTheJournalWrites()
{
    QTemporaryDir dir;
    JournalSettings s;
    Journal journal(&s.settings, dir.path());
    EventCollector collector;
    QObject::connect(&journal, &Journal::updateJournalWidget, &collector,
                     &EventCollector::updateJournalWidget, Qt::QueuedConnection);
    const int count = 2000;
    int exports = 0;
    for (int i = 0; i < count; ++i) {
        journal.enqueue(numberedEvent(i));
        if (i % 25 == 0) {
            const QList<Event> recent = journal.recentEvents(1024);
            QVERIFY(isRunOfNumbers(recent));
        }
        if (i % 500 == 0) {
            QVERIFY(journal.exportPdfTo(dir.filePath(QStringLiteral("export%1.pdf").arg(i)), 64));
            ++exports;
        }
    }
    // Reading the kept events goes on until the journal has written the last one.
    bool ordered = true;
    const bool done = QTest::qWaitFor(
        [&] {
            ordered = ordered && isRunOfNumbers(journal.recentEvents(1024));
            return collector.events.size() == count;
        },
        20000);
    QVERIFY(done);
    QVERIFY(ordered);
    QCOMPARE(exports, 4);
    QVERIFY(isRunOfNumbers(collector.events));
    QCOMPARE(numberOf(collector.events.last()), count - 1);
}

void TestJournalThread::destructionWritesWhatWasHandedOver()
{
    QTemporaryDir dir;
    JournalSettings s;
    {
        Journal journal(&s.settings, dir.path());
        for (int i = 0; i < 200; ++i)
            journal.enqueue(numberedEvent(i));
    }
    const JournalFormat::ReadBack back = readBackFile(dir.filePath("journal.html"));
    QCOMPARE(back.events.size(), 200);
    QVERIFY(isRunOfNumbers(back.events));
}

void TestJournalThread::keepsOnlyTheNewestInMemory()
{
    QTemporaryDir dir;
    JournalSettings s(100.0);
    Journal journal(&s.settings, dir.path());
    EventCollector collector;
    QObject::connect(&journal, &Journal::updateJournalWidget, &collector,
                     &EventCollector::updateJournalWidget, Qt::QueuedConnection);
    const int count = Journal::eventsKept + 100;
    for (int i = 0; i < count; ++i)
        journal.enqueue(numberedEvent(i), false);
    QTRY_COMPARE_WITH_TIMEOUT(collector.events.size(), count, 20000);
    const QList<Event> kept = journal.recentEvents(1 << 30);
    QCOMPARE(kept.size(), Journal::eventsKept);
    QCOMPARE(numberOf(kept.first()), 100);
    QCOMPARE(numberOf(kept.last()), count - 1);
    // Events not meant for the file stay out of it.
    QCOMPARE(readBackFile(journal.filePath()).events.size(), 0);
}

QTEST_MAIN(TestJournalThread)
#include "tst_journal_thread.moc"
