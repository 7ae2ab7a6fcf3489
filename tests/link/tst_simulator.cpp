// The device simulator against the real worker: readings, faults on demand and a line that
// vanishes and comes back.
#include "../common/SimulatedLine.h"
#include "link/ComPort.h"
#include "link/WorkerObject.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
struct Sweeper
{
    ComPort port;
    WorkerObject worker;
    QSignalSpy arrived;
    QSignalSpy errors;
    explicit Sweeper(const QString& path)
        : port(path, 19200), arrived(&worker, &WorkerObject::dataArrived),
          errors(&worker, &WorkerObject::comErrorOccured)
    {
        worker.setPort(&port);
    }
    // Runs one sweep; an empty value when none was delivered.
    std::unique_ptr<DevicesGuiData> sweep()
    {
        const int before = arrived.count();
        worker.timeoutHandler();
        if (arrived.count() == before)
            return nullptr;
        return std::make_unique<DevicesGuiData>(arrived.last().at(0).value<DevicesGuiData>());
    }
};
} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<DevicesGuiData>("DevicesGuiData"); }
    void readingsAndFaults_data();
    void readingsAndFaults();
    void faultsOnDemand();
    void lineVanishesAndReturns();
};

void TestSimulator::readingsAndFaults_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("volts");
    QTest::addColumn<double>("degrees");
    QTest::newRow("defaults") << QStringList() << 13.5 << 24.0;
    QTest::newRow("frost, divisor index 6")
        << QStringList{"--temperature", "-8", "--divisor", "6"} << 13.5 << -8.0;
    QTest::newRow("divisor index 15, 12.6 V")
        << QStringList{"--divisor", "15", "--volts", "12.6"} << 12.6 << 24.0;
    QTest::newRow("divisor index 12") << QStringList{"--divisor", "12"} << 13.5 << 24.0;
}

void TestSimulator::readingsAndFaults()
{
    QFETCH(QStringList, options);
    QFETCH(double, volts);
    QFETCH(double, degrees);
    SimulatedLine line;
    QVERIFY(line.start(options + QStringList{"--silent", "3", "--bad-checksum", "5", "--wrong-number", "7",
                                             "--bad-header", "9", "--modules", "14"}));
    Sweeper s(line.link());
    const auto data = s.sweep();
    QVERIFY(data);
    for (int i = 0; i < 16; ++i) {
        const bool answers = i != 3 && i != 5 && i != 7 && i != 9 && i < 14;
        QCOMPARE(data->msd[i].valid, answers);
        if (!answers)
            continue;
        for (const ChannelReading& c : data->msd[i].channel) {
            QVERIFY2(qAbs(c.voltage - volts) < 0.2, qPrintable(QString::number(c.voltage)));
            QVERIFY2(qAbs(c.temperature - degrees) < 2.0, qPrintable(QString::number(c.temperature)));
        }
    }
    QCOMPARE(s.errors.count(), 1);
    QCOMPARE(s.errors.at(0).at(0).toString(), QStringLiteral("CS msd_number = address, msd 7"));
    QCOMPARE(s.errors.at(0).at(1).toUInt(), 0xFD000008u);
}

void TestSimulator::faultsOnDemand()
{
    SimulatedLine line;
    QVERIFY(line.start({"--drift-step", "0.2"}));
    Sweeper s(line.link());
    auto first = s.sweep();
    QVERIFY(first && first->msd[2].valid && first->msd[6].valid);

    line.command("drift 2 4 volt");
    line.command("silent 6");
    line.command("wrong-number 11");
    QTest::qWait(300);
    auto second = s.sweep();
    auto third = s.sweep();
    QVERIFY(second && third);
    // Silent: the last entry stays while the module is counted.
    QVERIFY(third->msd[6].valid);
    QCOMPARE(third->msd[6].channel[0].voltage, first->msd[6].channel[0].voltage);
    const double rise = third->msd[2].channel[4].voltage - first->msd[2].channel[4].voltage;
    QVERIFY2(rise > 0.3 && rise < 0.5, qPrintable(QString::number(rise)));
    QCOMPARE(s.errors.count(), 2);

    line.command("answer all");
    line.command("steady 2 4");
    QTest::qWait(300);
    auto back = s.sweep();
    QVERIFY(back);
    for (const MsdData& m : back->msd)
        QVERIFY(m.valid);
    QVERIFY(qAbs(back->msd[2].channel[4].voltage - first->msd[2].channel[4].voltage) < 0.1);
}

void TestSimulator::lineVanishesAndReturns()
{
    SimulatedLine line;
    QVERIFY(line.start({}));
    Sweeper s(line.link());
    QVERIFY(s.sweep());
    QVERIFY(s.port.isOpen());

    line.command("vanish 1.0");
    QTest::qWait(300);
    auto gone = s.sweep();
    QVERIFY(gone);
    for (const MsdData& m : gone->msd)
        QVERIFY(!m.valid);
    QVERIFY(!s.port.isOpen());
    auto stillGone = s.sweep();
    QVERIFY(stillGone);
    QVERIFY(!stillGone->msd[0].valid);
    QVERIFY(!s.port.isOpen());

    // Back behind the same link: a later sweep opens it again.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(line.link()).exists() && s.sweep()->msd[0].valid, 5000);
    auto again = s.sweep();
    QVERIFY(again);
    for (const MsdData& m : again->msd)
        QVERIFY(m.valid);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
