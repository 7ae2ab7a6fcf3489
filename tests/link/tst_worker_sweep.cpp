// Polling sweeps of the worker against a scripted peer on a pseudo-terminal.
#include "AnswerFrame.h"
#include "PtyPeer.h"
#include "link/ComPort.h"
#include "link/WorkerObject.h"

#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <mutex>

namespace {
enum Behaviour
{
    Good,
    BadChecksum,
    BadHeader,
    WrongNumber,
    Silent
};

// What each module does, shared with the peer's thread.
struct Script
{
    std::mutex mutex;
    Behaviour behaviour[16] = {};
    int sweep = 0;

    void set(int module, Behaviour b)
    {
        std::lock_guard<std::mutex> lock(mutex);
        behaviour[module] = b;
    }
    void setAll(Behaviour b)
    {
        for (int i = 0; i < 16; ++i)
            set(i, b);
    }
    QByteArray answer(int module)
    {
        std::lock_guard<std::mutex> lock(mutex);
        AnswerFrame f = AnswerFrame::typical(module);
        // Readings change from sweep to sweep, so a kept entry can be told from a new one.
        f.rawVolts[0] = static_cast<std::uint16_t>(f.rawVolts[0] + 1000 * sweep);
        switch (behaviour[module]) {
        case Good:
            return f.bytes(module);
        case BadChecksum:
            f.checksumError = 3;
            return f.bytes(module);
        case BadHeader:
            f.header = 0x54;
            return f.bytes(module);
        case WrongNumber:
            return f.bytes((module + 1) % 16);
        case Silent:
            return {};
        }
        return {};
    }
};

double firstVolts(int module, int sweep)
{
    return (2400 + 10 * module + 1000 * sweep) / 200.0;
}

struct Rig
{
    PtyPeer peer;
    Script script;
    ComPort port;
    WorkerObject worker;
    QSignalSpy arrived;
    QSignalSpy errors;

    Rig()
        : port(peer.linkPath(), 19200), arrived(&worker, &WorkerObject::dataArrived),
          errors(&worker, &WorkerObject::comErrorOccured)
    {
        peer.setResponder([this](int module) { return script.answer(module); });
        worker.setPort(&port);
    }
    // One sweep, run here; the spies see its signals at once.
    DevicesGuiData sweep()
    {
        const int before = arrived.count();
        worker.timeoutHandler();
        {
            std::lock_guard<std::mutex> lock(script.mutex);
            ++script.sweep;
        }
        if (arrived.count() == before)
            return DevicesGuiData();
        return arrived.last().at(0).value<DevicesGuiData>();
    }
};
} // namespace

Q_DECLARE_METATYPE(Behaviour)

class TestWorkerSweep : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstSweep_data();
    void firstSweep();
    void keepRule_data();
    void keepRule();
    void wrongModuleKeepsOnlyWhileCounting();
    void lineVanishesMidSweep_data();
    void lineVanishesMidSweep();
    void missingLineIsNoData();
    void timerConnectedOnce();
};

void TestWorkerSweep::initTestCase()
{
    qRegisterMetaType<DevicesGuiData>("DevicesGuiData");
}

void TestWorkerSweep::firstSweep_data()
{
    QTest::addColumn<QVector<int>>("behaviour");
    QTest::addColumn<QStringList>("errorTexts");
    QTest::addColumn<QVector<uint>>("errorCodes");

    QVector<int> mixed(16, Good);
    mixed[2] = BadChecksum;
    mixed[4] = WrongNumber;
    mixed[7] = BadHeader;
    mixed[11] = Silent;
    mixed[15] = WrongNumber;
    QTest::newRow("mixed") << mixed
                           << QStringList{"CS msd_number = address, msd 4", "CS msd_number = address, msd 15"}
                           << QVector<uint>{0xFD000005u, 0xFD000000u};
    QTest::newRow("all answer") << QVector<int>(16, Good) << QStringList() << QVector<uint>();
    QTest::newRow("all silent") << QVector<int>(16, Silent) << QStringList() << QVector<uint>();
}

void TestWorkerSweep::firstSweep()
{
    QFETCH(QVector<int>, behaviour);
    QFETCH(QStringList, errorTexts);
    QFETCH(QVector<uint>, errorCodes);
    Rig rig;
    QVERIFY(rig.peer.isReady());
    for (int i = 0; i < 16; ++i)
        rig.script.set(i, static_cast<Behaviour>(behaviour[i]));

    const DevicesGuiData data = rig.sweep();
    QCOMPARE(rig.arrived.count(), 1);
    QVERIFY(rig.port.isOpen());
    for (int i = 0; i < 16; ++i) {
        QCOMPARE(data.msd[i].msd_number, static_cast<std::uint32_t>(i));
        QCOMPARE(data.msd[i].valid, behaviour[i] == Good);
        if (behaviour[i] == Good) {
            QCOMPARE(data.msd[i].channel[0].voltage, firstVolts(i, 0));
            QCOMPARE(data.msd[i].channel[7].voltage, (2400 + 10 * i + 7) / 200.0);
            QCOMPARE(data.msd[i].channel[3].temperature, 21.5);
        }
    }
    QCOMPARE(rig.errors.count(), errorTexts.size());
    for (int k = 0; k < errorTexts.size(); ++k) {
        QCOMPARE(rig.errors.at(k).at(0).toString(), errorTexts[k]);
        QCOMPARE(rig.errors.at(k).at(1).toUInt(), errorCodes[k]);
    }
    // Every module was asked, in order.
    QByteArray requests;
    for (int i = 0; i < 16; ++i)
        requests +=
            QByteArray::fromHex(QByteArray::number(i * 4 + 3, 16).rightJustified(2, '0') + "81" +
                                QByteArray::number((i * 4 + 3 + 0x81) & 0xFF, 16).rightJustified(2, '0'));
    QCOMPARE(rig.peer.received(), requests);
}

void TestWorkerSweep::keepRule_data()
{
    QTest::addColumn<Behaviour>("fault");
    QTest::newRow("silent") << Silent;
    QTest::newRow("bad checksum") << BadChecksum;
    QTest::newRow("header not 0x55") << BadHeader;
}

void TestWorkerSweep::keepRule()
{
    QFETCH(Behaviour, fault);
    Rig rig;
    QVERIFY(rig.peer.isReady());
    rig.script.setAll(Good);
    const DevicesGuiData good = rig.sweep();
    QVERIFY(good.msd[3].valid);

    rig.script.set(3, fault);
    for (int s = 1; s <= 4; ++s) {
        const DevicesGuiData data = rig.sweep();
        QVERIFY2(data.msd[3].valid, qPrintable(QString("sweep %1").arg(s)));
        QCOMPARE(data.msd[3].channel[0].voltage, firstVolts(3, 0));
        QCOMPARE(data.msd[12].channel[0].voltage, firstVolts(12, s));
    }
    const DevicesGuiData fifth = rig.sweep();
    QVERIFY(!fifth.msd[3].valid);
    QCOMPARE(fifth.msd[3].msd_number, 3u);
    QVERIFY(rig.sweep().msd[3].valid == false);

    // One good answer resets the count.
    rig.script.set(3, Good);
    QVERIFY(rig.sweep().msd[3].valid);
    rig.script.set(3, fault);
    QVERIFY(rig.sweep().msd[3].valid);
    QCOMPARE(rig.errors.count(), 0);
}

void TestWorkerSweep::wrongModuleKeepsOnlyWhileCounting()
{
    Rig rig;
    QVERIFY(rig.peer.isReady());
    rig.script.setAll(Good);
    QVERIFY(rig.sweep().msd[4].valid);

    // Counter 0: the wrong answer replaces the entry with an invalid one.
    rig.script.set(4, WrongNumber);
    DevicesGuiData data = rig.sweep();
    QVERIFY(!data.msd[4].valid);
    QCOMPARE(data.msd[4].msd_number, 4u);
    QCOMPARE(rig.errors.count(), 1);
    QCOMPARE(rig.errors.last().at(0).toString(), QStringLiteral("CS msd_number = address, msd 4"));
    QCOMPARE(rig.errors.last().at(1).toUInt(), 0xFD000005u);

    // Counter 2 after two bad frames: the last good entry is kept, and the counter stays.
    rig.script.set(4, Good);
    QVERIFY(rig.sweep().msd[4].valid);
    rig.script.set(4, BadChecksum);
    rig.sweep();
    rig.sweep();
    rig.script.set(4, WrongNumber);
    data = rig.sweep();
    QVERIFY(data.msd[4].valid);
    QCOMPARE(data.msd[4].channel[0].voltage, firstVolts(4, 2));
    QCOMPARE(rig.errors.count(), 2);
    rig.script.set(4, BadChecksum);
    QVERIFY(rig.sweep().msd[4].valid);  // count 3
    QVERIFY(rig.sweep().msd[4].valid);  // count 4
    QVERIFY(!rig.sweep().msd[4].valid); // count 5
}

void TestWorkerSweep::lineVanishesMidSweep_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<bool>("answerFirst");
    QTest::addColumn<int>("validModules");
    QTest::newRow("at the request of module 5, unanswered") << 6 << false << 5;
    // The next request's bytes then find the line gone.
    QTest::newRow("after answering module 5") << 6 << true << 6;
    QTest::newRow("at module 0") << 1 << false << 0;
    QTest::newRow("after the last answer") << 16 << true << 16;
}

void TestWorkerSweep::lineVanishesMidSweep()
{
    QFETCH(int, request);
    QFETCH(bool, answerFirst);
    QFETCH(int, validModules);
    Rig rig;
    QVERIFY(rig.peer.isReady());
    rig.peer.vanishAtRequest(request, answerFirst);

    QElapsedTimer clock;
    clock.start();
    const DevicesGuiData data = rig.sweep();
    QCOMPARE(rig.arrived.count(), 1);
    for (int i = 0; i < 16; ++i)
        QCOMPARE(data.msd[i].valid, i < validModules);
    QVERIFY2(clock.elapsed() < 3000, "a vanished line must not hold the sweep");

    // The device is gone: the sweep cannot open the port and says no module answered.
    QTRY_VERIFY(rig.peer.hasVanished());
    if (validModules < 16)
        QVERIFY(!rig.port.isOpen());
    rig.port.close(true);
    const DevicesGuiData gone = rig.sweep();
    QCOMPARE(rig.arrived.count(), 2);
    for (int i = 0; i < 16; ++i)
        QVERIFY(!gone.msd[i].valid);

    // It comes back behind the same path: the next sweep reopens it.
    rig.peer.vanishAtRequest(0, false);
    QVERIFY(rig.peer.reopen());
    const DevicesGuiData back = rig.sweep();
    QCOMPARE(rig.arrived.count(), 3);
    for (int i = 0; i < 16; ++i)
        QVERIFY(back.msd[i].valid);
}

void TestWorkerSweep::missingLineIsNoData()
{
    WorkerObject worker;
    QSignalSpy arrived(&worker, &WorkerObject::dataArrived);
    worker.timeoutHandler();
    QCOMPARE(arrived.count(), 0);
    // A line that cannot be opened is a sweep in which no module answered.
    ComPort missing(QStringLiteral("/nonexistent/line"), 19200);
    worker.setPort(&missing);
    worker.timeoutHandler();
    QCOMPARE(arrived.count(), 1);
    const DevicesGuiData data = arrived.last().at(0).value<DevicesGuiData>();
    for (int i = 0; i < 16; ++i) {
        QVERIFY(!data.msd[i].valid);
        QCOMPARE(data.msd[i].msd_number, std::uint32_t(i));
    }
}

void TestWorkerSweep::timerConnectedOnce()
{
    PtyPeer peer;
    QVERIFY(peer.isReady());
    Script script;
    peer.setResponder([&](int module) { return script.answer(module); });
    ComPort port(peer.linkPath(), 19200);
    QVERIFY(port.open());
    WorkerObject worker;
    worker.setPort(&port);
    // A sweep of 16 answering modules takes about 0.35 s here.
    worker.setPollingPeriod(1000);
    int arrivals = 0;
    QThread* deliveredIn = nullptr;
    connect(
        &worker, &WorkerObject::dataArrived, this, [&](const DevicesGuiData&) { ++arrivals; },
        Qt::QueuedConnection);
    connect(
        &worker, &WorkerObject::dataArrived, &worker,
        [&](const DevicesGuiData&) { deliveredIn = QThread::currentThread(); }, Qt::DirectConnection);
    QSignalSpy ticks(worker.pollingTimer(), &QTimer::timeout);

    for (int round = 0; round < 3; ++round) {
        worker.stopPolling();
        QVERIFY(worker.waitStopped(3000));
        worker.startPolling();
    }
    QVERIFY(worker.pollingThread()->isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(arrivals, 3, 5000);
    worker.stopPolling();
    QVERIFY(worker.waitStopped(3000));
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 3);
    QCOMPARE(arrivals, 3);
    QCOMPARE(deliveredIn, worker.pollingThread());
    QVERIFY(!worker.pollingTimer()->isActive());

    // Started again after a stop, it sweeps again.
    worker.startPolling();
    QTRY_COMPARE_WITH_TIMEOUT(arrivals, 4, 5000);
}

QTEST_GUILESS_MAIN(TestWorkerSweep)
#include "tst_worker_sweep.moc"
