// Batteries judged against the mean of their group.
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "journal/Event.h"

#include <QtTest>
#include <memory>
#include <vector>

namespace {
// Thresholds unequal on each side, exact binary fractions.
struct Fixture
{
    AlarmThresholds thresholds{5.0, 4.0, 1.5, 2.0, 1.25, 1.0};
    BatteryGroup group{2};
    std::vector<std::unique_ptr<Battery>> batteries;

    Battery* add(double voltage, double temperature, bool noData = false)
    {
        const int id = int(batteries.size());
        batteries.push_back(std::make_unique<Battery>(id, 0, id));
        Battery* b = batteries.back().get();
        b->setThresholds(&thresholds);
        b->setVoltage(voltage);
        b->setTemperature(temperature);
        b->setNoData(noData);
        group.addBattery(b);
        group.recalculate();
        return b;
    }
    // As a sweep does: the means first, then the battery against them.
    void judge(Battery* b)
    {
        group.recalculate();
        b->updateState();
    }
};
} // namespace

class TestBattery : public QObject
{
    Q_OBJECT
private slots:
    void groupMeans()
    {
        // Negative: a member without data, left out of the means.
        for (const QVector<double>& v :
             QVector<QVector<double>>{{}, {12, 13, 14}, {12, -99, 14}, {-12, -13}}) {
            Fixture f;
            for (double x : v)
                f.add(qAbs(x), qAbs(x) * 2, x < 0);
            QCOMPARE(f.group.meanVoltage(), v.size() == 3 ? 13.0 : 0.0);
            QCOMPARE(f.group.meanTemperature(), v.size() == 3 ? 26.0 : 0.0);
        }
    }
    void classification_data()
    {
        QTest::addColumn<double>("dU");
        QTest::addColumn<double>("dT");
        QTest::addColumn<int>("volt");
        QTest::addColumn<int>("temp");
        // The group moved by `shift` V and 10 × as many °C; limits "i=value", group 2's "gi=value".
        QTest::addColumn<double>("shift");
        QTest::addColumn<QString>("limits");
        QTest::addColumn<QString>("crossed"); // as the journal names it
        // Each threshold, and just past it: a threshold itself is not passed.
        const double e = 1.0 / 1024;
        const auto row = [](const QByteArray& name, double dU, double dT, int volt, int temp,
                            double shift = 0, const QString& limits = "", const char* crossed = "") {
            QTest::newRow(name) << dU << dT << volt << temp << shift << limits << QString(crossed);
        };
        for (const auto& t :
             QVector<QPair<const char*, QVector<double>>>{{"high voltage warning", {1.25, 0, 1, 1}},
                                                          {"high voltage emergency", {1.5, 0, 2, 1}},
                                                          {"low voltage warning", {-1.0, 0, 1, 1}},
                                                          {"low voltage emergency", {-2.0, 0, 2, 1}},
                                                          {"temperature warning", {0, 4.0, 1, 1}},
                                                          {"temperature emergency", {0, 5.0, 1, 2}},
                                                          {"cold warning", {0, -4.0, 1, 1}},
                                                          {"cold emergency", {0, -5.0, 1, 2}}}) {
            const QVector<double>& v = t.second;
            const double du = v[0] ? e * (v[0] > 0 ? 1 : -1) : 0, dt = v[1] ? e * (v[1] > 0 ? 1 : -1) : 0;
            row(QByteArray(t.first) + " exactly", v[0], v[1], int(v[2]), int(v[3]));
            row("just past " + QByteArray(t.first), v[0] + du, v[1] + dt, int(v[2]) + !!du, int(v[3]) + !!dt);
        }
        row("the worse of both", 1.5 + e, -4.5, 3, 2);
        // Absolute limits: the deviations stay normal while the whole group moves.
        const QString volts = "0=14.4 1=15 2=11 3=10.5", degrees = "4=40 5=50 6=0 7=-10";
        const auto moved = [&](const char* name, double shift, const QString& limits, int volt, int temp,
                               const char* crossed) { row(name, 0, 0, volt, temp, shift, limits, crossed); };
        moved("limits off: the group far up", 10, "", 1, 1, "");
        moved("group up to the warning limit", 2.4, volts, 1, 1, "");
        moved("group past the warning limit", 2.4 + e, volts, 2, 1, "U>14.4");
        moved("group at the emergency limit", 3, volts, 2, 1, "U>14.4");
        moved("group past the emergency limit", 3 + e, volts, 3, 1, "U>15");
        moved("group down past the low warning", -1 - e, volts, 2, 1, "U<11");
        moved("group down past the low emergency", -1.5 - e, volts, 3, 1, "U<10.5");
        moved("warm group", 1.5 + e, degrees, 1, 2, "T>40");
        moved("cold group", -3.5 - e, degrees, 1, 3, "T<-10");
        moved("group's own limit first", 1 + e, volts + " g0=12.5 g1=13", 3, 1, "U>13");
        moved("group's own limit, the others the installation's", 2.5, volts + " g0=12.5", 2, 1, "U>12.5");
        row("deviation worse than the limit", 1.5 + e, 0, 3, 1, -0.5, volts);
    }
    void classification()
    {
        QFETCH(double, dU);
        QFETCH(double, dT);
        QFETCH(int, volt);
        QFETCH(int, temp);
        QFETCH(double, shift);
        QFETCH(QString, limits);
        QFETCH(QString, crossed);
        Fixture f;
        for (const QString& limit : limits.split(' ', Qt::SkipEmptyParts)) {
            AbsoluteLimits& set = limit.startsWith('g') ? f.thresholds.groupLimits[1] : f.thresholds.limits;
            set.value[limit.section('=', 0, 0).right(1).toInt()] = limit.section('=', 1).toDouble();
        }
        // A group of two: the deviation from the mean is half the difference.
        Battery* b = f.add(12.0 + shift + 2 * dU, 25.0 + 10 * shift + 2 * dT);
        f.add(12.0 + shift, 25.0 + 10 * shift);
        b->updateState();
        QCOMPARE(b->voltState(), volt);
        QCOMPARE(b->tempState(), temp);
        QCOMPARE(b->state(), qMax(volt, temp));
        const Event event(b, true, false);
        const QString limit =
            QString("%1%2%3").arg(event.limitQuantity()).arg(event.limitDirection()).arg(event.limitValue());
        QCOMPARE(event.limitQuantity() ? limit : QString(), crossed);
    }
    void statesOverTime()
    {
        Fixture f;
        Battery* b = f.add(12.0, 40.0);
        f.add(12.0, 25.0);
        f.add(12.0, 25.0);
        b->updateState(); // dT = 10: emergency
        b->setConfirmed(true);
        b->setTemperature(33.0); // dT = 5.33: still an emergency, still confirmed
        f.judge(b);
        QVERIFY(b->isConfirmed());
        b->setTemperature(31.5); // dT = 4.33: a warning, to be confirmed anew
        f.judge(b);
        QVERIFY(!b->isConfirmed() && b->prevTempState() == 3);
        b->setNoData(true); // the state goes at once
        QCOMPARE(b->state(), 0);
        b->reset();
        QVERIFY(!b->voltage() && !b->temperature() && !b->state() && !b->isConfirmed() && !b->hasNoData());
        // Out of its group (groups being rebuilt) it is not judged.
        b->setState(1);
        f.group.clearBatteries();
        b->updateState();
        QCOMPARE(b->state(), 1);
    }
};

QTEST_APPLESS_MAIN(TestBattery)
#include "tst_battery.moc"
