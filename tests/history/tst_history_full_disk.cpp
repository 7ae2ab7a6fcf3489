// The disk refuses writes while the recorder runs (a file-size limit stands in for a full
// disk): recording stops with a message, the caller carries on, sweeps beyond the bounded
// queue are dropped oldest first, and once writes succeed again recording resumes by itself.
#include "../common/FileSizeLimit.h"
#include "HistoryTestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {

qint64 largestFile(const QString& path)
{
    return qMax(QFileInfo(path).size(), QFileInfo(path + "-wal").size());
}

} // namespace

class TestHistoryFullDisk : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    void recordingStopsAndResumes_data();
    void recordingStopsAndResumes();
};

void TestHistoryFullDisk::initTestCase()
{
    // Past the limit a write fails with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

void TestHistoryFullDisk::recordingStopsAndResumes_data()
{
    QTest::addColumn<int>("roomBytes"); // beyond the largest file when the disk fills; -1: none at all
    QTest::newRow("no room at all") << -1;
    QTest::newRow("room for a few sweeps") << 16384;
}

void TestHistoryFullDisk::recordingStopsAndResumes()
{
    QFETCH(int, roomBytes);
    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - HistoryTime::hour;
    HistoryRecorder::Options options = quickOptions();
    options.queueLimit = 100;
    HistoryRecorder recorder(path, HistoryRecorder::Clock(), options);
    QSignalSpy state(&recorder, &HistoryRecorder::stateChanged);
    const auto lastMessage = [&] { return state.isEmpty() ? QString() : state.last().at(1).toString(); };
    qint64 t = start;
    const auto recordNext = [&] {
        recorder.record(makeSweep(t));
        t += 3000;
    };

    for (int i = 0; i < 20; ++i)
        recordNext();
    QVERIFY(recorder.waitUntilWritten(10000));
    QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);

    QVERIFY(limitFileSize(roomBytes < 0 ? 4096 : rlim_t(largestFile(path) + roomBytes)));
    const qint64 fullFrom = t;
    // Sweep after sweep until the disk refuses one (with some room, that takes a while),
    // then as many again as the queue holds and more.
    int duringFull = 0;
    for (; duringFull < 20000 && recorder.state() != HistoryRecorder::State::DiskFull; ++duringFull) {
        recordNext();
        QThread::msleep(1);
    }
    QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
    for (int i = 0; i < 3 * options.queueLimit; ++i, ++duringFull)
        recordNext();
    QTRY_COMPARE(lastMessage(), QStringLiteral("Нет места на диске: история не записывается"));
    QCOMPARE(state.last().at(0).value<HistoryRecorder::State>(), HistoryRecorder::State::DiskFull);
    if (roomBytes < 0) {
        // Retries keep failing quietly: no message comes and goes while the disk stays full.
        // (With some room left a smaller write may still fit now and then, and does.)
        const int messages = state.count();
        QTest::qWait(4 * options.retryMs);
        QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
        QCOMPARE(state.count(), messages);
    }
    QVERIFY(recorder.stats().dropped > 0);

    // Room again; the sweeps go on arriving as they do, and recording comes back by itself.
    QVERIFY(limitFileSize(RLIM_INFINITY));
    for (int i = 0; i < 500 && recorder.state() != HistoryRecorder::State::Recording; ++i, ++duringFull) {
        recordNext();
        QTest::qWait(20);
    }
    QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
    QTRY_COMPARE(lastMessage(), HistoryRecorder::resumedMessage());
    const qint64 afterFrom = t;
    for (int i = 0; i < 5; ++i)
        recordNext();
    QVERIFY(recorder.waitUntilWritten(10000));
    const HistoryRecorder::Stats stats = recorder.stats();

    QCOMPARE(quickCheck(path), QStringLiteral("ok"));
    HistoryQuery query(path);
    const HistorySeries raw = query.series(9, start, t, HistoryResolution::Raw);
    QSet<qint64> stored;
    for (const HistoryPoint& p : raw.points) {
        QVERIFY(!p.missing);
        stored.insert(p.msecs);
    }
    int keptWhileFull = 0;
    for (qint64 s = start; s < t; s += 3000) {
        const bool whileFull = s >= fullFrom && s < afterFrom;
        // Before and after, everything; while full, whatever the disk took and then the
        // newest that the queue held.
        if (!whileFull || s >= afterFrom - options.queueLimit * 3000)
            QVERIFY2(stored.contains(s), qPrintable(QString("sweep %1 lost").arg((s - start) / 3000)));
        keptWhileFull += whileFull && stored.contains(s) ? 1 : 0;
    }
    QCOMPARE(stats.dropped + keptWhileFull, qint64(duringFull));
    QCOMPARE(stats.written, qint64(raw.points.size()));
}

QTEST_GUILESS_MAIN(TestHistoryFullDisk)
#include "tst_history_full_disk.moc"
