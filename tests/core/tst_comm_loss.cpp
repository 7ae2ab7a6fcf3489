// The communication-loss tracker of one watched source, step by step.
#include "core/CommLossTracker.h"

#include <QtTest>

class TestCommLoss : public QObject
{
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
};

void TestCommLoss::steps_data()
{
    // steps: a answered sweep, x unanswered sweep, L lost at once, C confirm, u unwatched, w watched,
    // K cleared. expected, a character a step: L lost, R restored, c confirmed now, - nothing.
    QTest::addColumn<int>("sweeps");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("lostAfter"); // "", "lost" or "confirmed"
    const auto row = [](const char* name, int sweeps, const char* steps, const char* expected,
                        const char* after) {
        QTest::newRow(name) << sweeps << QString(steps) << QString(expected) << QString(after);
    };
    row("lost at the third unanswered sweep", 3, "xxxx", "--L-", "lost");
    row("an answer starts the count again", 3, "xxaxx", "-----", "");
    row("restored once, by an answer", 3, "xxxaa", "--LR-", "");
    row("one sweep is enough when so set", 1, "x", "L", "lost");
    row("a source that holds no battery is never lost", 3, "uxxxxL", "------", "");
    row("watched again, lost at its next miss", 3, "uxxxwx", "-----L", "lost");
    row("lost at once, and not again", 3, "Lxx", "L--", "lost");
    row("confirmed once", 3, "xxxCCx", "--Lc--", "confirmed");
    row("confirming nothing lost", 3, "xC", "--", "");
    row("lost again after a return is unconfirmed", 1, "xCax", "LcRL", "lost");
    row("no longer watched: dropped without a return", 3, "xxxu", "--L-", "");
    row("cleared: the count starts again", 3, "xxKxx", "-----", "");
}

void TestCommLoss::steps()
{
    QFETCH(int, sweeps);
    QFETCH(QString, steps);
    QFETCH(QString, expected);
    QFETCH(QString, lostAfter);
    CommLossTracker tracker(16);
    tracker.setSweepsToLoss(sweeps);
    tracker.setWatched(5, true);
    const char changes[] = {'-', 'L', 'R'};
    QString seen;
    for (const QChar step : steps) {
        auto change = CommLossTracker::Change::None;
        if (step == 'a' || step == 'x')
            change = tracker.sweep(5, step == 'a');
        else if (step == 'L')
            change = tracker.markLost(5);
        else if (step == 'u' || step == 'w')
            tracker.setWatched(5, step == 'w');
        else if (step == 'K')
            tracker.clear();
        if (step == 'C')
            seen += tracker.confirmAll() == std::vector<int>{5} ? 'c' : '-';
        else
            seen += changes[int(change)];
        // The other sources answer: their counts never mix with this one.
        tracker.sweep(4, true);
    }
    QCOMPARE(seen, expected);
    QCOMPARE(tracker.isLost(5), !lostAfter.isEmpty());
    QCOMPARE(tracker.isConfirmed(5), lostAfter == "confirmed");
    QCOMPARE(tracker.anyUnconfirmed(), lostAfter == "lost");
    QCOMPARE(tracker.lostSources(), lostAfter.isEmpty() ? std::vector<int>{} : std::vector<int>{5});
}

QTEST_GUILESS_MAIN(TestCommLoss)
#include "tst_comm_loss.moc"
