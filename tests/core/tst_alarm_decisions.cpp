// The alarm decisions over scripted native sweeps, without the window: journal events and sounds, in order.
#include "../common/AlarmScripts.h"
#include "core/AlarmDecisions.h"
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/CommLossTracker.h"

class TestAlarmDecisions : public QObject
{
    Q_OBJECT
private slots:
    void scripts_data() { alarmScriptRows(false); }
    void scripts()
    {
        QFETCH(QString, sounds);
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        // As the window holds them: modules 0 and 1 are groups 1 and 2, every other battery in group 0.
        AlarmThresholds thresholds;
        BatteryGroup groups[3] = {BatteryGroup(0), BatteryGroup(1), BatteryGroup(2)};
        std::vector<Battery> batteries;
        QList<QList<Battery*>> rows = QVector<QList<Battery*>>(16).toList();
        for (int id = 0; id < 128; ++id)
            batteries.emplace_back(id, id / 8, id % 8);
        for (Battery& b : batteries) {
            b.setThresholds(&thresholds);
            groups[b.id() < 16 ? b.msdIndex() + 1 : 0].addBattery(&b);
            rows[b.msdIndex()] << &b;
        }
        CommLossTracker commLoss(16);
        commLoss.setSweepsToLoss(sounds.contains('1') ? 1 : 3);
        bool playing = false;
        AlarmDecisions decisions(rows, commLoss, {sounds.contains('W'), sounds.contains('C'), true, false},
                                 [&] { return playing; });
        QStringList seen;
        const auto carryOut = [&](const AlarmOutcome& outcome) {
            for (const auto& e : outcome.batteryEvents)
                seen << QString("J%1%2%3")
                            .arg(e.battery->id())
                            .arg(e.started ? "s" : "e", e.confirmed ? "c" : "");
            for (const auto& e : outcome.commEvents)
                seen << QString(e.lost ? "L%1%2" : "B%1%2").arg(e.source).arg(e.confirmed ? "c" : "");
            for (AlarmOutcome::Sound sound : outcome.sounds)
                seen << QString("WCS").at(int(sound)), playing = sound != AlarmOutcome::Sound::Stop;
        };
        for (const QString& step : steps.split('|')) {
            const DevicesGuiData sweep = sweepFrom(step);
            if (step == "C") {
                carryOut(decisions.confirmAll());
            } else if (step == "R") {
                for (Battery& b : batteries)
                    b.reset();
            } else {
                decisions.nativeCommStep(sweep.answered, sweep.lineLost, carryOut);
                // As the window takes a sweep in: a lost module's kept entry is no measurement.
                for (Battery& b : batteries) {
                    const MsdData& entry = sweep.msd[b.msdIndex()];
                    b.setNoData(!entry.valid || commLoss.isLost(b.msdIndex()));
                    b.setVoltage(entry.channel[b.mkpIndex()].voltage);
                    b.setTemperature(entry.channel[b.mkpIndex()].temperature);
                }
                for (BatteryGroup& g : groups)
                    g.recalculate();
                decisions.evaluationPass(carryOut);
            }
        }
        QCOMPARE(seen.join(' '), expected);
    }
};

QTEST_GUILESS_MAIN(TestAlarmDecisions)
#include "tst_alarm_decisions.moc"
