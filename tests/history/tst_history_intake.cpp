// Readings reach the history through the window's intake: native sweeps as they come, Modbus
// turns as one sweep a round of the polled groups; a module that did not answer is a gap.
#include "../common/WindowInFolder.h"
#include "app/HistoryFeed.h"
#include "core/Battery.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "link/DevicesGuiData.h"

#include <QtTest>

namespace {

// Voltages of one battery in the raw history, "-" for a gap.
QString rawVoltages(const QString& path, int battery)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QStringList list;
    for (const HistoryPoint& p :
         HistoryQuery(path).series(battery, now - 3600000, now + 1000, HistoryResolution::Raw).points)
        list << (p.missing ? QString("-") : QString::number(p.vMean, 'f', 2));
    return list.join(' ');
}

} // namespace

class TestHistoryIntake : public QObject
{
    Q_OBJECT
private slots:
    void nativeSweeps();
    void modbusRounds();
};

void TestHistoryIntake::nativeSweeps()
{
    WindowInFolder folder;
    folder.window->setNativeRunning(true);
    for (int i = 0; i < 3; ++i) { // 12 V, 13 V, 14 V; module 2 silent in the second
        DevicesGuiData data;
        for (int m = 0; m < 16; ++m) {
            data.msd[m].valid = !(i == 1 && m == 2);
            data.msd[m].msd_number = std::uint32_t(m);
            for (int c = 0; c < 8; ++c)
                data.msd[m].channel[c] = {12.0 + i + 0.01 * (m * 8 + c), 20.0 + c};
        }
        folder.window->dataArrivedHandler(data);
        QTest::qWait(5); // distinct times
    }
    QVERIFY(folder.window->history()->recorder()->waitUntilWritten(5000));
    const QString path = folder.dir.filePath("history.sqlite");
    QCOMPARE(rawVoltages(path, 3), QString("12.03 13.03 14.03"));
    QCOMPARE(rawVoltages(path, 17), QString("12.17 - 14.17"));
    QCOMPARE(rawVoltages(path, 127), QString("13.27 14.27 15.27"));
}

void TestHistoryIntake::modbusRounds()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    std::vector<std::unique_ptr<Battery>> all;
    QList<Battery*> groupA, groupB;
    for (int id = 0; id < 16; ++id) {
        all.push_back(std::make_unique<Battery>(id, id / 8, id % 8));
        all.back()->setVoltage(12.0 + id);
        (id < 8 ? groupA : groupB) << all.back().get();
    }
    {
        HistoryFeed feed(path);
        feed.takeGroupTurn(groupA);
        groupB[2]->setNoData(true);
        feed.takeGroupTurn(groupB);
        QTest::qWait(5);
        // Group A again: the first round is complete and goes out as one sweep.
        for (Battery* b : groupA)
            b->setVoltage(b->voltage() + 0.5);
        feed.takeGroupTurn(groupA);
        QVERIFY(feed.recorder()->waitUntilWritten(5000));
        QCOMPARE(rawVoltages(path, 0) + " | " + rawVoltages(path, 9) + " | " + rawVoltages(path, 10),
                 QString("12.00 | 21.00 | -"));
    } // stopping records what the second round gathered; group B was not polled again
    QCOMPARE(rawVoltages(path, 0) + " | " + rawVoltages(path, 9), QString("12.00 12.50 | 21.00 -"));
}

QTEST_MAIN(TestHistoryIntake)
#include "tst_history_intake.moc"
