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
    QTest::newRow("lost at the third unanswered sweep") << 3 << "xxxx"
                                                        << "--L-"
                                                        << "lost";
    QTest::newRow("an answer starts the count again") << 3 << "xxaxx"
                                                      << "-----"
                                                      << "";
    QTest::newRow("restored once, by an answer") << 3 << "xxxaa"
                                                 << "--LR-"
                                                 << "";
    QTest::newRow("one sweep is enough when so set") << 1 << "x"
                                                     << "L"
                                                     << "lost";
    QTest::newRow("a source that holds no battery is never lost") << 3 << "uxxxxL"
                                                                  << "------"
                                                                  << "";
    QTest::newRow("watched again, lost at its next miss") << 3 << "uxxxwx"
                                                          << "-----L"
                                                          << "lost";
    QTest::newRow("lost at once, and not again") << 3 << "Lxx"
                                                 << "L--"
                                                 << "lost";
    QTest::newRow("confirmed once") << 3 << "xxxCCx"
                                    << "--Lc--"
                                    << "confirmed";
    QTest::newRow("confirming nothing lost") << 3 << "xC"
                                             << "--"
                                             << "";
    QTest::newRow("lost again after a return is unconfirmed") << 1 << "xCax"
                                                              << "LcRL"
                                                              << "lost";
    QTest::newRow("no longer watched: dropped without a return") << 3 << "xxxu"
                                                                 << "--L-"
                                                                 << "";
    QTest::newRow("cleared: the count starts again") << 3 << "xxKxx"
                                                     << "-----"
                                                     << "";
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
