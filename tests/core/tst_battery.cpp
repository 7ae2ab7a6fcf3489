// Batteries judged against the mean of their group, and the numbers shown with a decimal comma.
#include "config/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/DecimalComma.h"

#include <QRadioButton>
#include <QtTest>
#include <clocale>
#include <memory>
#include <vector>

namespace {
// A group with the given readings; thresholds unequal on each side, exact binary fractions.
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
        return b;
    }
};
} // namespace

class TestBattery : public QObject
{
    Q_OBJECT
private slots:
    void groupMeans_data()
    {
        QTest::addColumn<QVector<double>>("voltages"); // a negative voltage marks a member without data
        QTest::addColumn<double>("mean");
        QTest::newRow("empty group") << QVector<double>{} << 0.0;
        QTest::newRow("three members") << QVector<double>{12.0, 13.0, 14.0} << 13.0;
        QTest::newRow("member without data left out") << QVector<double>{12.0, -99.0, 14.0} << 13.0;
        QTest::newRow("all without data") << QVector<double>{-12.0, -13.0} << 0.0;
    }
    void groupMeans()
    {
        QFETCH(QVector<double>, voltages);
        QFETCH(double, mean);
        Fixture f;
        for (double v : voltages)
            f.add(qAbs(v), qAbs(v) * 2, v < 0);
        QCOMPARE(f.group.meanVoltage(), mean);
        QCOMPARE(f.group.meanTemperature(), mean * 2);
        for (auto& b : f.batteries) {
            b->updateState();
            QCOMPARE(b->state(), b->hasNoData() ? 0 : 1);
        }
        QCOMPARE(f.group.batteryAt(voltages.size()), nullptr);
        QCOMPARE(f.group.batteryAt(-1), nullptr);
    }
    void classification_data()
    {
        // Deviations from the mean; warning above 1.25 V / below 1.0 V, emergency above 1.5 V /
        // below 2.0 V, temperature 4 and 5 degrees either way. A threshold itself is not passed.
        QTest::addColumn<double>("dU");
        QTest::addColumn<double>("dT");
        QTest::addColumn<int>("volt");
        QTest::addColumn<int>("temp");
        const double e = 1.0 / 1024;
        QTest::newRow("at the mean") << 0.0 << 0.0 << 1 << 1;
        QTest::newRow("high warning exactly") << 1.25 << 0.0 << 1 << 1;
        QTest::newRow("just above high warning") << 1.25 + e << 0.0 << 2 << 1;
        QTest::newRow("high emergency exactly") << 1.5 << 0.0 << 2 << 1;
        QTest::newRow("just above high emergency") << 1.5 + e << 0.0 << 3 << 1;
        QTest::newRow("low warning exactly") << -1.0 << 0.0 << 1 << 1;
        QTest::newRow("just below low warning") << -1.0 - e << 0.0 << 2 << 1;
        QTest::newRow("low emergency exactly") << -2.0 << 0.0 << 2 << 1;
        QTest::newRow("just below low emergency") << -2.0 - e << 0.0 << 3 << 1;
        QTest::newRow("temperature warning exactly") << 0.0 << 4.0 << 1 << 1;
        QTest::newRow("temperature above warning") << 0.0 << 4.0 + e << 1 << 2;
        QTest::newRow("temperature emergency exactly") << 0.0 << 5.0 << 1 << 2;
        QTest::newRow("temperature above emergency") << 0.0 << 5.0 + e << 1 << 3;
        QTest::newRow("temperature below warning") << 0.0 << -4.0 - e << 1 << 2;
        QTest::newRow("temperature below emergency") << 0.0 << -5.0 - e << 1 << 3;
        QTest::newRow("the worse of both") << 1.5 + e << -4.5 << 3 << 2;
    }
    void classification()
    {
        QFETCH(double, dU);
        QFETCH(double, dT);
        QFETCH(int, volt);
        QFETCH(int, temp);
        Fixture f;
        // A group of two: the mean lies half-way, so the deviation is half the difference.
        Battery* b = f.add(12.0 + 2 * dU, 25.0 + 2 * dT);
        f.add(12.0, 25.0);
        b->updateState();
        QCOMPARE(b->voltState(), volt);
        QCOMPARE(b->tempState(), temp);
        QCOMPARE(b->state(), qMax(volt, temp));
    }
    void statesOverTime()
    {
        Fixture f;
        Battery* b = f.add(12.0, 40.0);
        f.add(12.0, 25.0);
        f.add(12.0, 25.0);
        b->updateState(); // dT = 10: emergency
        QCOMPARE(b->tempState(), 3);
        QCOMPARE(b->prevTempState(), 0);
        b->setConfirmed(true);
        b->setTemperature(33.0); // dT = 5.33: still an emergency, still confirmed
        b->updateState();
        QCOMPARE(b->prevTempState(), 3);
        QVERIFY(b->isConfirmed());
        b->setTemperature(31.5); // dT = 4.33: a warning, a change to confirm anew
        b->updateState();
        QCOMPARE(b->prevTempState(), 3);
        QCOMPARE(b->tempState(), 2);
        QVERIFY(!b->isConfirmed());

        // No data: the state goes at once, the deviation states at the next evaluation.
        b->setConfirmed(true);
        b->setNoData(true);
        QCOMPARE(b->state(), 0);
        QCOMPARE(b->voltState(), 0);
        QVERIFY(b->isConfirmed());
        b->updateState();
        QCOMPARE(b->prevTempState(), 2);
        QVERIFY(!b->isConfirmed());
        QCOMPARE(f.group.meanTemperature(), 25.0);

        b->setState(2);
        b->reset();
        QCOMPARE(b->voltage(), 0.0);
        QCOMPARE(b->temperature(), 0.0);
        QCOMPARE(b->state(), 0);
        QCOMPARE(b->prevVoltState() + b->prevTempState(), 0);
        QVERIFY(!b->isConfirmed());
        QVERIFY(!b->hasNoData());
        b->setState(1);
        QCOMPARE(b->voltState() + b->tempState(), 0); // the stored deviation states went too
    }
    void withoutGroupOrThresholds()
    {
        AlarmThresholds thresholds;
        Battery loose(5, 0, 5), bare(6, 0, 6);
        loose.setThresholds(&thresholds);
        loose.setVoltage(30.0);
        loose.setState(2);
        loose.updateState(); // nothing to judge against: left as it is
        QCOMPARE(loose.state(), 2);
        QCOMPARE(loose.groupNumber(), 0);
        BatteryGroup g(4);
        g.addBattery(&bare);
        bare.updateState();
        QCOMPARE(bare.state(), 0);
        QCOMPARE(bare.groupNumber(), 4);
        g.clearBatteries();
        QCOMPARE(g.batteryCount(), 0);
        QCOMPARE(bare.group(), nullptr);
    }
    void caption_data()
    {
        QTest::addColumn<bool>("idle");
        QTest::addColumn<double>("voltage");
        QTest::addColumn<double>("temperature");
        QTest::addColumn<QString>("caption");
        QTest::newRow("idle shows zero") << true << 12.63 << 24.5 << "Группа 2 (Ucp=0,00 B, Tcp=0,0 °C)";
        QTest::newRow("running") << false << 12.63 << 24.5 << "Группа 2 (Ucp=12,63 B, Tcp=24,5 °C)";
        QTest::newRow("negative") << false << -1.5 << -10.25 << "Группа 2 (Ucp=-1,50 B, Tcp=-10,2 °C)";
        QTest::newRow("huge is cut") << false << 1e20 << 1.0 << "Группа 2 (Ucp=1000000000000 B, Tcp=1,0 °C)";
    }
    void caption()
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
    void decimalComma_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("commaLocale");
        for (bool comma : {false, true}) {
            const char* in = comma ? ", comma locale" : "";
            QTest::addRow("volts%s", in) << "%4.2f" << 13.5 << "13,50" << comma;
            QTest::addRow("degrees rounded%s", in) << "%3.1f" << 25.34 << "25,3" << comma;
            QTest::addRow("negative%s", in) << "%3.1f" << -1.5 << "-1,5" << comma;
            QTest::addRow("cut at 13%s", in) << "%4.2f" << 123456789012.0 << "123456789012," << comma;
        }
    }
    void decimalComma()
    {
        QFETCH(QString, format);
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(bool, commaLocale);
        // Where a comma locale exists the run-time writes the comma itself.
        const char* found = nullptr;
        for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"})
            if (commaLocale && (found = std::setlocale(LC_NUMERIC, name)))
                break;
        if (commaLocale && !found)
            QSKIP("no comma-decimal locale is installed");
        const QString shown = ::decimalComma(format.toLatin1().constData(), value);
        std::setlocale(LC_NUMERIC, "C");
        QCOMPARE(shown, text);
    }
};

QTEST_MAIN(TestBattery)
#include "tst_battery.moc"
