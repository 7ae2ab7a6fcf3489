// Batteries judged against the mean of their group.
#include "config/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QLabel>
#include <QRadioButton>
#include <QtTest>
#include <memory>
#include <vector>

namespace {
// A group with the given readings; a NaN voltage marks a member without data.
struct Fixture
{
    AlarmThresholds thresholds;
    BatteryGroup group{2};
    std::vector<std::unique_ptr<Battery>> batteries;

    Battery* add(double voltage, double temperature, bool noData = false)
    {
        batteries.push_back(std::make_unique<Battery>(int(batteries.size()), 0, int(batteries.size())));
        Battery* b = batteries.back().get();
        b->setThresholds(&thresholds);
        b->setVoltage(voltage);
        b->setTemperature(temperature);
        b->setNoData(noData);
        group.addBattery(b);
        return b;
    }
    void evaluateAll()
    {
        for (auto& b : batteries)
            b->updateState();
    }
};
} // namespace

class TestBattery : public QObject
{
    Q_OBJECT
private slots:
    void groupMeans_data();
    void groupMeans();
    void voltageClassification_data();
    void voltageClassification();
    void temperatureClassification_data();
    void temperatureClassification();
    void previousStatesAreOverwritten();
    void confirmationClearedOnlyOnChange();
    void noDataZeroesStateAtOnce();
    void effectiveStatesFollowOverallState();
    void allMembersWithoutDataAreNotClassified();
    void nullGroupLeavesBatteryAsItIs();
    void resetClearsEverything();
    void membership();
    void caption_data();
    void caption();
    void tilesFollowTheModel();
};

void TestBattery::groupMeans_data()
{
    QTest::addColumn<QVector<double>>("voltages");
    QTest::addColumn<QVector<bool>>("noData");
    QTest::addColumn<double>("meanVoltage");

    QTest::newRow("empty group") << QVector<double>{} << QVector<bool>{} << 0.0;
    QTest::newRow("one member") << QVector<double>{12.6} << QVector<bool>{false} << 12.6;
    QTest::newRow("three members") << QVector<double>{12.0, 13.0, 14.0} << QVector<bool>{false, false, false}
                                   << 13.0;
    QTest::newRow("no-data member skipped")
        << QVector<double>{12.0, 99.0, 14.0} << QVector<bool>{false, true, false} << 13.0;
    QTest::newRow("all without data") << QVector<double>{12.0, 13.0} << QVector<bool>{true, true} << 0.0;
}

void TestBattery::groupMeans()
{
    QFETCH(QVector<double>, voltages);
    QFETCH(QVector<bool>, noData);
    QFETCH(double, meanVoltage);
    Fixture f;
    for (int i = 0; i < voltages.size(); ++i)
        f.add(voltages[i], voltages[i] * 2, noData[i]);
    QCOMPARE(f.group.meanVoltage(), meanVoltage);
    QCOMPARE(f.group.meanTemperature(), meanVoltage * 2);
}

void TestBattery::voltageClassification_data()
{
    // Thresholds and deviations are exact binary fractions, so "equal" is really equal.
    QTest::addColumn<double>("deviation");
    QTest::addColumn<int>("expected");
    QTest::newRow("at the mean") << 0.0 << 1;
    QTest::newRow("high warning threshold exactly") << 1.25 << 1;
    QTest::newRow("just above high warning") << 1.25 + 1.0 / 1024 << 2;
    QTest::newRow("high emergency threshold exactly is a warning") << 1.5 << 2;
    QTest::newRow("just above high emergency") << 1.5 + 1.0 / 1024 << 3;
    QTest::newRow("low warning threshold exactly") << -1.0 << 1;
    QTest::newRow("just below low warning") << -1.0 - 1.0 / 1024 << 2;
    QTest::newRow("low emergency threshold exactly") << -2.0 << 2;
    QTest::newRow("just below low emergency") << -2.0 - 1.0 / 1024 << 3;
}

void TestBattery::voltageClassification()
{
    QFETCH(double, deviation);
    QFETCH(int, expected);
    Fixture f;
    f.thresholds.voltHighWarning = 1.25;
    f.thresholds.voltHighEmergency = 1.5;
    f.thresholds.voltLowWarning = 1.0;
    f.thresholds.voltLowEmergency = 2.0;
    // A group of two: the mean is (12 + x) / 2, so the deviation is (x - 12) / 2.
    Battery* b = f.add(12.0 + 2 * deviation, 25.0);
    f.add(12.0, 25.0);
    b->updateState();
    QCOMPARE(b->voltState(), expected);
    QCOMPARE(b->tempState(), 1);
    QCOMPARE(b->state(), expected);
}

void TestBattery::temperatureClassification_data()
{
    QTest::addColumn<double>("deviation");
    QTest::addColumn<int>("expected");
    QTest::newRow("warning threshold exactly") << 4.0 << 1;
    QTest::newRow("above warning") << 4.5 << 2;
    QTest::newRow("emergency threshold exactly") << 5.0 << 2;
    QTest::newRow("above emergency") << 5.5 << 3;
    QTest::newRow("below the mean by more than emergency") << -5.5 << 3;
}

void TestBattery::temperatureClassification()
{
    QFETCH(double, deviation);
    QFETCH(int, expected);
    Fixture f;
    Battery* b = f.add(12.0, 25.0 + 2 * deviation);
    f.add(12.0, 25.0);
    b->updateState();
    QCOMPARE(b->tempState(), expected);
    QCOMPARE(b->voltState(), 1);
    QCOMPARE(b->state(), expected);
}

void TestBattery::previousStatesAreOverwritten()
{
    Fixture f;
    Battery* b = f.add(12.0, 40.0);
    f.add(12.0, 25.0);
    f.add(12.0, 25.0);
    b->updateState(); // dT = 10 > 5: emergency
    QCOMPARE(b->tempState(), 3);
    QCOMPARE(b->prevTempState(), 0);
    b->setTemperature(33.0); // dT = 5.33: still emergency
    b->updateState();
    QCOMPARE(b->prevTempState(), 3);
    QCOMPARE(b->tempState(), 3);
    b->setTemperature(31.5); // dT = 4.33: warning
    b->updateState();
    QCOMPARE(b->prevTempState(), 3);
    QCOMPARE(b->tempState(), 2);
    b->updateState();
    QCOMPARE(b->prevTempState(), 2);
    QCOMPARE(b->tempState(), 2);
    QCOMPARE(b->prevVoltState(), 1);
}

void TestBattery::confirmationClearedOnlyOnChange()
{
    Fixture f;
    Battery* b = f.add(12.0, 40.0);
    f.add(12.0, 25.0);
    b->updateState();
    b->setConfirmed(true);
    b->updateState(); // same states: stays confirmed
    QVERIFY(b->isConfirmed());
    b->setVoltage(16.0); // voltage now an emergency too: a change
    b->updateState();
    QVERIFY(!b->isConfirmed());
}

void TestBattery::noDataZeroesStateAtOnce()
{
    Fixture f;
    Battery* b = f.add(14.0, 25.0);
    f.add(12.0, 25.0);
    f.add(12.0, 25.0);
    b->updateState();
    QCOMPARE(b->state(), 3);
    b->setConfirmed(true);
    b->setNoData(true);
    QCOMPARE(b->state(), 0);
    QVERIFY(b->isConfirmed()); // deviation states change only at the next evaluation
    b->updateState();
    QCOMPARE(b->prevVoltState(), 3);
    QCOMPARE(b->state(), 0);
    QVERIFY(!b->isConfirmed());
    b->setNoData(false); // clearing changes nothing else
    QCOMPARE(b->state(), 0);
}

void TestBattery::effectiveStatesFollowOverallState()
{
    Fixture f;
    Battery* b = f.add(13.0, 25.0);
    f.add(12.0, 25.0);
    f.add(12.0, 25.0);
    f.add(12.0, 25.0);
    b->setVoltage(13.7); // mean 12.425: dU 1.275, a warning

    b->updateState();
    QCOMPARE(b->voltState(), 2);
    b->setState(0);
    QCOMPARE(b->voltState(), 0);
    QCOMPARE(b->tempState(), 0);
    b->setState(2);
    QCOMPARE(b->voltState(), 2);
}

void TestBattery::allMembersWithoutDataAreNotClassified()
{
    Fixture f;
    Battery* a = f.add(12.0, 25.0, true);
    Battery* b = f.add(15.0, 45.0, true);
    f.evaluateAll();
    QCOMPARE(a->state(), 0);
    QCOMPARE(b->state(), 0);
    QCOMPARE(f.group.meanVoltage(), 0.0);

    Fixture single;
    Battery* only = single.add(13.7, 60.0);
    only->updateState();
    QCOMPARE(only->state(), 1);
}

void TestBattery::nullGroupLeavesBatteryAsItIs()
{
    AlarmThresholds thresholds;
    Battery b(5, 0, 5);
    b.setThresholds(&thresholds);
    b.setVoltage(30.0);
    b.setState(2);
    b.updateState();
    QCOMPARE(b.state(), 2);
    QCOMPARE(b.prevVoltState(), 0);
    QCOMPARE(b.groupNumber(), 0);

    Battery noThresholds(6, 0, 6);
    BatteryGroup g(1);
    g.addBattery(&noThresholds);
    noThresholds.updateState();
    QCOMPARE(noThresholds.state(), 0);
}

void TestBattery::resetClearsEverything()
{
    Fixture f;
    Battery* b = f.add(14.0, 40.0);
    f.add(12.0, 25.0);
    b->updateState();
    b->setConfirmed(true);
    b->setNoData(true);
    b->reset();
    QCOMPARE(b->voltage(), 0.0);
    QCOMPARE(b->temperature(), 0.0);
    QCOMPARE(b->state(), 0);
    QCOMPARE(b->prevVoltState(), 0);
    QCOMPARE(b->prevTempState(), 0);
    QVERIFY(!b->isConfirmed());
    QVERIFY(!b->hasNoData());
    b->setState(1);
    QCOMPARE(b->voltState(), 0); // stored deviation states were cleared too
}

void TestBattery::membership()
{
    BatteryGroup g(4);
    Battery a(0, 0, 0), b(1, 0, 1);
    g.addBattery(&a);
    g.addBattery(&b);
    QCOMPARE(g.batteryCount(), 2);
    QCOMPARE(g.batteryAt(1), &b);
    QCOMPARE(g.batteryAt(2), nullptr);
    QCOMPARE(g.batteryAt(-1), nullptr);
    QCOMPARE(a.groupNumber(), 4);
    g.clearBatteries();
    QCOMPARE(g.batteryCount(), 0);
    QCOMPARE(a.group(), nullptr);
    QCOMPARE(b.groupNumber(), 0);
}

void TestBattery::caption_data()
{
    QTest::addColumn<bool>("idle");
    QTest::addColumn<double>("voltage");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<QString>("caption");
    QTest::newRow("idle shows zero") << true << 12.63 << 24.5 << QString("Группа 2 (Ucp=0,00 B, Tcp=0,0 °C)");
    QTest::newRow("running") << false << 12.63 << 24.5 << QString("Группа 2 (Ucp=12,63 B, Tcp=24,5 °C)");
    QTest::newRow("negative") << false << -1.5 << -10.25 << QString("Группа 2 (Ucp=-1,50 B, Tcp=-10,2 °C)");
    QTest::newRow("huge is cut to 13 characters")
        << false << 1e20 << 1.0 << QString("Группа 2 (Ucp=1000000000000 B, Tcp=1,0 °C)");
}

void TestBattery::caption()
{
    QFETCH(bool, idle);
    QFETCH(double, voltage);
    QFETCH(double, temperature);
    QFETCH(QString, caption);
    Fixture f;
    f.add(voltage, temperature);
    QRadioButton button;
    f.group.setButton(&button);
    QCOMPARE(button.text(), QString("Группа 2 (Ucp=0,00 B, Tcp=0,0 °C)")); // means not computed yet
    f.group.setIdle(idle);
    f.group.recalculate();
    QCOMPARE(button.text(), caption);
}

void TestBattery::tilesFollowTheModel()
{
    MKPWidget::loadImages();
    Fixture f;
    Battery* b = f.add(12.0, 25.0);
    MKPWidget tile;
    b->setWidget(&tile);
    // The state goes last: 0 puts the placeholders over the numbers just handed over.
    QCOMPARE(tile.voltageLabel()->text(), QString("--,-- B"));
    QCOMPARE(tile.temperatureLabel()->text(), QString("--,- °C"));
    b->setVoltage(13.5);
    b->setTemperature(25.34);
    QCOMPARE(tile.voltageLabel()->text(), QString("13,50 B"));
    QCOMPARE(tile.temperatureLabel()->text(), QString("25,3 °C"));
    b->updateState();
    QCOMPARE(tile.state(), 1);
    b->setHighlighted(false);
    QVERIFY(!tile.isHighlighted());
}

QTEST_MAIN(TestBattery)
#include "tst_battery.moc"
