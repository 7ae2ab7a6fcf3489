// history.sqlite: recording, roll-up, expiry, damage, a full disk, kills, CSV and the intake.
#include "../common/FileContent.h"
#include "../common/FileSizeLimit.h"
#include "../common/HistorySupport.h"
#include "../common/StoreKill.h"
#include "../common/WindowInFolder.h"
#include "app/RoomFeed.h"
#include "history/HistoryCsv.h"
#include "link/DevicesGuiData.h"
#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {
const char kChildFlag[] = "--recorder-child";

// SQLite's own soundness check, on a connection of the test's own: "ok" for a sound file.
QString quickCheck(const QString& path)
{
    QString result = "failed";
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(path);
        if (QSqlQuery q(db); db.open() && q.exec("PRAGMA quick_check") && q.next())
            result = q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("test");
    return result;
}

// "time min/mean/max mV min/mean/max dC" a point, "time -" a gap; slots of 1 ms are raw.
QStringList pointsRead(HistoryQuery& query, int battery, qint64 from, qint64 to, qint64 slot)
{
    const HistoryResolution r = slot == 1                     ? HistoryResolution::Raw
                                : slot == HistoryTime::minute ? HistoryResolution::Minute
                                                              : HistoryResolution::Hour;
    QStringList lines;
    for (const HistoryPoint& p : query.series(battery, from, to, r).points) {
        QString line = QString::number(p.msecs);
        for (double v :
             {p.vMin * 1000, p.vMean * 1000, p.vMax * 1000, p.tMin * 10, p.tMean * 10, p.tMax * 10})
            line += p.missing ? (qIsNaN(v) ? "" : " figures in a gap") : " " + QString::number(qRound64(v));
        lines << (p.missing ? line + " -" : line);
    }
    return lines;
}

// What pointsRead should say: the valid readings' extremes and mean, rounded half away from zero.
QStringList expectedPoints(const QVector<HistorySweep>& sweeps, int battery, qint64 slot)
{
    QMap<qint64, QVector<qint64>> mv, dc;
    for (const HistorySweep& s : sweeps) {
        QVector<qint64>&v = mv[s.msecsSinceEpoch / slot * slot], &t = dc[s.msecsSinceEpoch / slot * slot];
        for (const HistoryReading& r : s.readings)
            if (r.battery == battery && !r.missing && !qIsNaN(r.voltage))
                v << qRound64(r.voltage * 1000), t << qRound64(r.temperature * 10);
    }
    const auto figures = [](const QVector<qint64>& v) {
        return QString(" %1 %2 %3")
            .arg(*std::min_element(v.begin(), v.end()))
            .arg(std::llround(double(std::accumulate(v.begin(), v.end(), qint64(0))) / v.size()))
            .arg(*std::max_element(v.begin(), v.end()));
    };
    QStringList lines;
    for (auto it = mv.cbegin(); it != mv.cend(); ++it)
        lines << QString::number(it.key()) +
                     (it->isEmpty() ? " -" : figures(*it) + figures(dc.value(it.key())));
    return lines;
}

QString rawVoltages(const QString& path, int battery)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QStringList list;
    for (const HistoryPoint& p : HistoryQuery(path).series(battery, now - 3600000, now + 1000).points)
        list << (p.missing ? QString("-") : QString::number(p.vMean, 'f', 2));
    return list.join(' ');
}

// Records sweeps 3 s apart, its clock running with them, and prints each one committed.
int recorderChild(char* argv[])
{
    qint64 t = QByteArray(argv[3]).toLongLong();
    std::atomic<qint64> latest{t};
    QRandomGenerator random(QByteArray(argv[4]).toUInt());
    HistoryRecorder recorder(
        argv[2], [&latest] { return latest.load(); }, quickOptions());
    QObject::connect(
        &recorder, &HistoryRecorder::sweepsCommitted, &recorder,
        [](const QVector<qint64>& times) {
            for (qint64 time : times)
                reportLine(QByteArray::number(time) + '\n');
        },
        Qt::DirectConnection); // on the writer's thread, right after the commit
    for (;;) {
        for (int i = 1 + int(random.bounded(40)); i > 0; --i, t += 3000)
            recorder.record(makeSweep(latest = t));
        recorder.waitUntilWritten(10000); // within the queue, so nothing is dropped unprinted
        QThread::usleep(random.bounded(2000));
    }
}
} // namespace

class TestHistoryStore : public QObject
{
    Q_OBJECT
private slots:
    void readBackAndExpiry()
    {
        const qint64 start = utc("2026-02-10T22:00:00Z"), end = start + 3 * HistoryTime::hour;
        // Gaps in 2, 3 and 4; 5 noisy, 6 now and then not a number, 7 at the fixed point's extremes.
        const auto reading = [start](qint64 t, int b) {
            HistoryReading r = usualReading(t, b);
            const qint64 since = t - start, sweep = since / 3000;
            r.missing = (b == 2 && since / HistoryTime::hour == 1) || (b == 4 && sweep % 2 == 1) ||
                        (b == 3 && since / HistoryTime::minute % 60 == 10);
            r.voltage = b == 5 ? 13.8 - 0.0001 * double(sweep) + 0.003 * double((sweep * 7919) % 11)
                        : b == 6 && sweep % 3 == 0 ? qQNaN()
                        : b == 7                   ? (sweep % 2 ? 0.0005 : 65.534)
                                                   : r.voltage;
            r.temperature = b == 7 ? (sweep % 4 < 2 ? -40.04 : 120.06) : r.temperature;
            return r;
        };
        QVector<HistorySweep> sweeps;
        for (qint64 t = start; t < end; t += 3000)
            sweeps << makeSweep(t, reading);
        sweeps.first().readings.resize(120); // 120 and up not there, the rest in reverse order
        std::reverse(sweeps.first().readings.begin(), sweeps.first().readings.end());
        QTemporaryDir dir;
        const QString path = dir.filePath("h.sqlite");
        std::atomic<qint64> clock{end + HistoryTime::hour};
        const auto now = [&] { return clock.load(); };
        auto recorder = std::make_unique<HistoryRecorder>(path, now, quickOptions());
        QVERIFY(recordAll(*recorder, sweeps));
        HistoryQuery query(path);
        for (const qint64 slot : {qint64(1), HistoryTime::minute, HistoryTime::hour})
            for (int b : {0, 2, 3, 4, 5, 6, 7, 120})
                QCOMPARE(pointsRead(query, b, start, end, slot), expectedPoints(sweeps, b, slot));
        HistoryQuery clocked(path, [end] { return end; });
        QCOMPARE(clocked.series(0, end - 6 * HistoryTime::hour, end).resolution, HistoryResolution::Raw);
        QCOMPARE(clocked.resolutionFor(end - 7 * HistoryTime::hour, end), HistoryResolution::Minute);
        // Expiry seen step by step, then by a recorder started after the clock jumped.
        for (const qint64 later : {7 * HistoryTime::day + HistoryTime::hour / 2,
                                   365 * HistoryTime::day + 150 * HistoryTime::minute}) {
            clock = start + later;
            if (later > HistoryTime::minutesKept)
                recorder = std::make_unique<HistoryRecorder>(path, now, quickOptions());
            QVERIFY(recorder->waitUntilIdle(30000) && QDir(dir.path()).entryList({"*.broken-*"}).isEmpty());
            int raw = 0, minutes = 0;
            for (const HistorySweep& s : sweeps)
                raw += s.msecsSinceEpoch >= clock - HistoryTime::rawKept;
            for (qint64 m = start; m < end; m += HistoryTime::minute)
                minutes += m / HistoryTime::hour * HistoryTime::hour + HistoryTime::hour >
                           clock - HistoryTime::minutesKept;
            QCOMPARE(QList<int>({pointsRead(query, 7, start, end, 1).size(),
                                 pointsRead(query, 7, start, end, HistoryTime::minute).size(),
                                 pointsRead(query, 7, start, end, HistoryTime::hour).size()}),
                     QList<int>({raw, minutes, 3}));
        }
    }
    // A file that is no usable history is set aside whole, with its log, and the caller told.
    void damagedFileSetAside()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        const QByteArray before(65536, '\x9c');
        QVERIFY(writeFile(path, before) && writeFile(path + "-wal", QByteArray(8192, '\x5a')));
        HistoryQuery query(path);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        HistoryRecorder recorder(path);
        QSignalSpy told(&recorder, &HistoryRecorder::setAside);
        for (int i = 0; i < 10; ++i)
            recorder.record(makeSweep(now - 30000 + i * 3000));
        QVERIFY(recorder.waitUntilWritten(30000));
        QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
        QTRY_COMPARE(told.count(), 1); // queued to this thread
        const QString name = QFileInfo(told.first().at(0).toString()).fileName();
        QCOMPARE(told.first().at(1).toString(), HistoryRecorder::setAsideMessage(name));
        QCOMPARE(readFile(dir.filePath(name)), before);
        QCOMPARE(query.series(3, now - 30000, now, HistoryResolution::Raw).points.size(), 10);
    }
    // The disk fills: a message, the newest sweeps the queue holds kept, then recording resumes.
    void fullDisk()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("h.sqlite");
        const qint64 start = QDateTime::currentMSecsSinceEpoch() - HistoryTime::hour;
        HistoryRecorder::Options options = quickOptions();
        options.queueLimit = 100;
        HistoryRecorder recorder(path, HistoryRecorder::Clock(), options);
        QSignalSpy state(&recorder, &HistoryRecorder::stateChanged);
        qint64 t = start, duringFull = 0;
        const auto recordUntil = [&](HistoryRecorder::State wanted, int most, int waitMs) {
            for (int i = 0; i < most && recorder.state() != wanted; ++i, ++duringFull, t += 3000) {
                recorder.record(makeSweep(t));
                QTest::qWait(waitMs);
            }
        };
        recordUntil(HistoryRecorder::State::DiskFull, 20, 0);
        QVERIFY(recorder.waitUntilWritten(10000) && limitFileSize(4096));
        duringFull = 0;
        recordUntil(HistoryRecorder::State::DiskFull, 20000, 1);
        recordUntil(HistoryRecorder::State::Starting, 3 * options.queueLimit, 0); // more than the queue holds
        QTRY_COMPARE(state.last().at(1).toString(), QString("Нет места на диске: история не записывается"));
        QVERIFY(limitFileSize(RLIM_INFINITY));
        recordUntil(HistoryRecorder::State::Recording, 500, 20);
        QTRY_COMPARE(state.last().at(1).toString(), HistoryRecorder::resumedMessage());
        QVERIFY(recorder.waitUntilWritten(10000));
        QCOMPARE(quickCheck(path), QString("ok"));
        const HistorySeries raw = HistoryQuery(path).series(9, start, t, HistoryResolution::Raw);
        const int lost = int((t - start) / 3000) - raw.points.size();
        QCOMPARE(raw.points.last().msecs, t - 3000);
        QVERIFY(lost > 0 && lost <= duringFull - options.queueLimit);
    }
    // SIGKILL while it writes and rolls up: the file stays sound, committed sweeps are there.
    void killedAtRandomMoments()
    {
        QRandomGenerator random = loggedRandom();
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        const qint64 base = utc("2026-03-01T00:00:00Z");
        QSet<qint64> acknowledged;
        for (int round = 0; round < 20; ++round) {
            QList<QByteArray> lines;
            QVERIFY(
                killAtRandomMoment({kChildFlag, path, QString::number(base + round * 6 * HistoryTime::hour),
                                    QString::number(random.generate())},
                                   round, random, &lines));
            for (const QByteArray& line : lines)
                acknowledged.insert(line.toLongLong());
            QCOMPARE(quickCheck(path), QString("ok"));
            QVERIFY2(QDir(dir.path()).entryList({"history.sqlite.broken-*"}).isEmpty(),
                     "a sound file set aside");
        }
        QVERIFY2(acknowledged.size() > 1000, "the writer hardly got to write: the test proved little");
        QHash<qint64, qint64> stored; // mV
        for (const HistoryPoint& p :
             HistoryQuery(path).series(7, base, base + 30 * HistoryTime::day, HistoryResolution::Raw).points)
            stored.insert(p.msecs, qRound64(p.vMean * 1000));
        for (qint64 t : qAsConst(acknowledged))
            QCOMPARE(stored.value(t, -1), qRound64(voltageAt(t, 7) * 1000)); // -1: said committed, not there
    }
    void csv() // gaps, not a number, oldest first, no "-0"
    {
        const qint64 t1 = utc("2026-03-01T10:00:00Z"), t2 = t1 + 3000, t3 = t1 + 60000;
        const QVector<HistoryCsvColumn> columns{{"A, В", 3, {{t3, 12.25}, {t1, 13.4006}, {t2, qQNaN()}}},
                                                {"B, °C", 1, {{t2, -0.04}, {t1, -5.25}}}};
        const QStringList lines{"Время;A, В;B, °C", "01.03.2026 10:00:00;13,401;-5,3",
                                "01.03.2026 10:00:03;;0,0", "01.03.2026 10:01:00;12,250;"};
        QTemporaryDir dir;
        QString error;
        QVERIFY2(HistoryCsv::write(dir.filePath("история.csv"), columns, &error, Qt::UTC), qPrintable(error));
        QCOMPARE(readFile(dir.filePath("история.csv")),
                 "\xEF\xBB\xBF" + QString(lines.join("\r\n") + "\r\n").toUtf8());
        QVERIFY(!HistoryCsv::write(dir.filePath("нет такой папки/история.csv"), columns, &error) &&
                !error.isEmpty()); // a failed write says why
    }
    // Native sweeps as they come, Modbus turns a sweep a round; what did not answer is a gap.
    void intake()
    {
        {
            QByteArray groupOne = "<!DOCTYPE settings><settings>";
            for (int c = 0; c < 8; ++c)
                groupOne += QString("<group_id msd=\"0\" mkp=\"%1\">1</group_id>").arg(c).toUtf8();
            WindowInFolder folder(groupOne + "</settings>");
            folder.window->setNativeRunning(true);
            QList<RoomSnapshot> snapshots; // one a sweep, taken after it was judged
            connect(folder.window->history(), &RoomFeed::sweepTaken,
                    [&](const RoomSnapshot& s) { snapshots << s; });
            for (int i = 0; i < 3; ++i) { // 12 V, 13 V, 14 V; module 2 silent in the second
                DevicesGuiData data;
                for (int m = 0; m < 16; ++m) {
                    data.msd[m].valid = data.answered[m] = !(i == 1 && m == 2);
                    data.msd[m].msd_number = std::uint32_t(m);
                    for (int c = 0; c < 8; ++c)
                        data.msd[m].channel[c] = {12.0 + i + 0.01 * (m * 8 + c), 20.0 + c};
                }
                folder.window->dataArrivedHandler(data);
                QTest::qWait(5); // distinct times
            }
            QVERIFY(folder.window->history()->recorder()->waitUntilWritten(5000));
            const QString path = folder.dir.filePath("history.sqlite");
            QCOMPARE(rawVoltages(path, 3) + " | " + rawVoltages(path, 17) + " | " + rawVoltages(path, 127),
                     QString("12.03 13.03 14.03 | 12.17 - 14.17 | 13.27 14.27 15.27"));
            QCOMPARE(snapshots.size(), 3);
            QCOMPARE(snapshots[0].batteries[3].state, 1);
            QCOMPARE(snapshots[1].batteries[17].noData, true);
            QCOMPARE(snapshots[2].groups[0].meanVoltage, 14.035);
            QVERIFY(snapshots[2].summary.polling && !snapshots[2].summary.modbusMode);
        }
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
            RoomFeed feed(path);
            feed.takeGroupTurn(groupA);
            groupB[2]->setNoData(true);
            feed.takeGroupTurn(groupB);
            QTest::qWait(5);
            for (Battery* b : groupA) // group A again: the first round is complete and goes out as one sweep
                b->setVoltage(b->voltage() + 0.5);
            feed.takeGroupTurn(groupA);
            QVERIFY(feed.recorder()->waitUntilWritten(5000));
            QCOMPARE(rawVoltages(path, 0) + " | " + rawVoltages(path, 9) + " | " + rawVoltages(path, 10),
                     QString("12.00 | 21.00 | -"));
        } // stopping records what the second round gathered; group B was not polled again
        QCOMPARE(rawVoltages(path, 0) + " | " + rawVoltages(path, 9), QString("12.00 12.50 | 21.00 -"));
    }
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a full disk fails writes with EFBIG
    void cleanup() { limitFileSize(RLIM_INFINITY); }
};

int main(int argc, char* argv[])
{
    if (argc == 5 && qstrcmp(argv[1], kChildFlag) == 0) {
        QCoreApplication app(argc, argv);
        return recorderChild(argv);
    }
    QApplication app(argc, argv);
    TestHistoryStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history_store.moc"
