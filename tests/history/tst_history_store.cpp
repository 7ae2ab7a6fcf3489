// history.sqlite: sweeps recorded and read back at every resolution, one battery or a group,
// rolled up or worked out on the fly; expiry by an injected clock; the choice of resolution;
// a damaged file set aside; a full disk; the CSV export.
#include "../common/FileSizeLimit.h"
#include "HistoryTestSupport.h"
#include "history/HistoryCsv.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>
#include <csignal>

Q_DECLARE_METATYPE(QVector<HistoryCsvColumn>)
Q_DECLARE_METATYPE(HistoryResolution)

namespace {

QString historyIn(const QTemporaryDir& dir)
{
    return dir.filePath("history.sqlite");
}

QByteArray hashOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1) : "";
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

bool runSql(const QString& path, const QStringList& statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-make");
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& sql : statements)
            ok = ok && q.exec(sql);
    }
    QSqlDatabase::removeDatabase("test-make");
    return ok;
}

HistoryResolution resolutionOf(qint64 slot)
{
    return slot == 1                     ? HistoryResolution::Raw
           : slot == HistoryTime::minute ? HistoryResolution::Minute
                                         : HistoryResolution::Hour;
}

} // namespace

class TestHistoryStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a full disk fails writes with EFBIG
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    void readBack_data();
    void readBack();
    void expiry_data();
    void expiry();
    void resolutionFor_data();
    void resolutionFor();
    void damagedFileSetAside_data();
    void damagedFileSetAside();
    void fullDisk_data();
    void fullDisk();
    void csv_data();
    void csv();
};

void TestHistoryStore::readBack_data()
{
    QTest::addColumn<qint64>("now"); // hours from 22:00 on: what the roll-up has done already
    QTest::newRow("nothing rolled up") << qint64(0);
    QTest::newRow("first hour rolled up") << qint64(1);
    QTest::newRow("all rolled up, midnight between") << qint64(4);
}

void TestHistoryStore::readBack()
{
    QFETCH(qint64, now);
    const qint64 start = utc("2026-02-10T22:00:00.000"), end = start + 3 * HistoryTime::hour;
    // 2 is silent in the middle hour, 3 in minute 10 of every hour, 4 every other sweep, 5
    // always; 6 reads a falling voltage with noise-like steps, 7 not a number every third
    // sweep, 8 the extremes of the fixed point; 120 and up are absent in the first hour.
    const auto reading = [start](qint64 t, int b) {
        HistoryReading r = usualReading(t, b);
        const qint64 since = t - start, sweep = since / 3000;
        r.missing = (b == 2 && since / HistoryTime::hour == 1) ||
                    (b == 3 && since / HistoryTime::minute % 60 == 10) || (b == 4 && sweep % 2 == 1) ||
                    b == 5;
        if (b == 6)
            r.voltage = 13.8 - 0.0001 * double(sweep) + 0.003 * double((sweep * 7919) % 11);
        if (b == 7 && sweep % 3 == 0)
            r.voltage = qQNaN();
        if (b == 8) {
            r.voltage = sweep % 2 ? 0.0005 : 65.534;
            r.temperature = sweep % 4 < 2 ? -40.04 : 120.06;
        }
        return r;
    };
    QVector<HistorySweep> sweeps;
    for (qint64 t = start; t <= end; t += 3000) {
        // A sweep a millisecond before each hour ends, and one at the end, outside the span read.
        for (qint64 at : {t, t + 2999}) {
            if ((at == t || (at + 1) % HistoryTime::hour == 0) && (at == t || at < end)) {
                sweeps << makeSweep(at, reading);
                if (at < start + HistoryTime::hour) { // the old modules first, in reverse order
                    sweeps.last().readings.resize(120);
                    std::reverse(sweeps.last().readings.begin(), sweeps.last().readings.end());
                }
            }
        }
    }
    QTemporaryDir dir;
    std::atomic<qint64> clock{start + now * HistoryTime::hour};
    HistoryRecorder recorder(
        historyIn(dir), [&] { return clock.load(); }, quickOptions());
    int committed = 0;
    QObject receiver; // on this thread: the sweeps reported reach it queued
    connect(&recorder, &HistoryRecorder::sweepsCommitted, &receiver,
            [&](const QVector<qint64>& times) { committed += times.size(); });
    for (int i = 0; i < sweeps.size(); ++i) {
        recorder.record(sweeps[i]);
        if (i % 500 == 499)
            QVERIFY(recorder.waitUntilWritten(30000));
    }
    QVERIFY(recorder.waitUntilWritten(30000) && recorder.waitUntilIdle(30000));
    QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
    QTRY_COMPARE(committed, sweeps.size());
    QCOMPARE(recorder.stats().written, qint64(sweeps.size()));
    sweeps.removeLast(); // the one at the end is outside every span read

    HistoryQuery query(historyIn(dir));
    const QVector<int> group{2, 3, 5, 8};
    for (qint64 slot : {qint64(1), HistoryTime::minute, HistoryTime::hour}) {
        for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 119, 120, 127})
            QCOMPARE(pointsRead(query.series(b, start, end, resolutionOf(slot))),
                     expectedPoints(sweeps, b, slot));
        // A group read takes other paths through the rows; it must agree, and its mean is that
        // of the members' means, a gap only where all of them are.
        const QVector<HistorySeries> members = query.groupSeries(group, start, end, resolutionOf(slot));
        const HistorySeries mean = query.groupMean(group, start, end, resolutionOf(slot));
        QCOMPARE(members.size(), group.size());
        QCOMPARE(mean.battery, -1);
        for (int m = 0; m < group.size(); ++m) {
            QCOMPARE(members[m].battery, group[m]);
            QCOMPARE(pointsRead(members[m]), expectedPoints(sweeps, group[m], slot));
        }
        QCOMPARE(mean.points.size(), members[0].points.size());
        for (int i = 0; i < mean.points.size(); ++i) {
            double sum = 0;
            int valid = 0;
            for (const HistorySeries& s : members)
                if (!s.points[i].missing && ++valid)
                    sum += s.points[i].vMean;
            QCOMPARE(mean.points[i].missing, valid == 0);
            QVERIFY(valid == 0 ? qIsNaN(mean.points[i].vMean)
                               : std::fabs(mean.points[i].vMean - sum / valid) < 1e-9);
        }
    }
    QCOMPARE(query.groupMean({5}, start, end, HistoryResolution::Hour).points.size(), 3); // gaps, not zeros
    QVERIFY(query.series(1, start - HistoryTime::hour, start, HistoryResolution::Raw).points.isEmpty());
}

void TestHistoryStore::expiry_data()
{
    QTest::addColumn<qint64>("later"); // after the first sweep
    // Whether the recorder saw the hours complete while it ran, or the program was closed
    // straight after the sweeps and started again only `later` (a clock that jumps).
    QTest::addColumn<bool>("stepByStep");
    const qint64 d = HistoryTime::day, h = HistoryTime::hour;
    QTest::newRow("six days on") << 6 * d << true;
    QTest::newRow("a week and half an hour on") << 7 * d + h / 2 << true;
    QTest::newRow("a week and three hours on") << 7 * d + 3 * h << true;
    QTest::newRow("364 days on") << 364 * d << true;
    QTest::newRow("a year and an hour and a half on") << 365 * d + 3 * h / 2 << true;
    QTest::newRow("a year and three hours on") << 365 * d + 3 * h << true;
    QTest::newRow("started again a year and three hours on") << 365 * d + 3 * h << false;
    QTest::newRow("started again a week and three hours on") << 7 * d + 3 * h << false;
}

void TestHistoryStore::expiry()
{
    QFETCH(qint64, later);
    QFETCH(bool, stepByStep);
    const qint64 start = utc("2026-07-01T10:00:00.000"), end = start + 2 * HistoryTime::hour, spacing = 10000;
    QTemporaryDir dir;
    std::atomic<qint64> clock{stepByStep ? end + HistoryTime::minute : start};
    const auto now = [&] { return clock.load(); };
    auto recorder = std::make_unique<HistoryRecorder>(historyIn(dir), now, quickOptions());
    for (qint64 t = start; t < end; t += spacing)
        recorder->record(makeSweep(t));
    QVERIFY(recorder->waitUntilWritten(30000) && recorder->waitUntilIdle(30000));
    if (!stepByStep)
        recorder = std::make_unique<HistoryRecorder>(historyIn(dir), now, quickOptions());
    clock = start + later;
    QVERIFY(recorder->waitUntilIdle(30000));

    int rawKept = 0, minutesKept = 0;
    for (qint64 t = start; t < end; t += spacing)
        rawKept += t >= clock - HistoryTime::rawKept ? 1 : 0;
    for (qint64 m = start; m < end; m += HistoryTime::minute)
        minutesKept += HistoryTime::slotStart(m, HistoryTime::hour) + HistoryTime::hour >
                       clock - HistoryTime::minutesKept;
    HistoryQuery query(historyIn(dir));
    QCOMPARE(query.series(7, start, end, HistoryResolution::Raw).points.size(), rawKept);
    QCOMPARE(query.series(7, start, end, HistoryResolution::Minute).points.size(), minutesKept);
    const HistorySeries hours = query.series(7, start, end, HistoryResolution::Hour); // kept for good
    QCOMPARE(hours.points.size(), 2);
    for (const HistoryPoint& p : hours.points)
        QVERIFY(!p.missing && p.vMean > 11.9);
}

void TestHistoryStore::resolutionFor_data()
{
    QTest::addColumn<qint64>("age"); // of the span's start
    QTest::addColumn<qint64>("span");
    QTest::addColumn<HistoryResolution>("expected");
    const qint64 h = HistoryTime::hour, d = HistoryTime::day;
    QTest::newRow("last hour") << h << h << HistoryResolution::Raw;
    QTest::newRow("last six hours") << 6 * h << 6 * h << HistoryResolution::Raw;
    QTest::newRow("last seven hours") << 7 * h << 7 * h << HistoryResolution::Minute;
    QTest::newRow("an hour eight days ago") << 8 * d << h << HistoryResolution::Minute;
    QTest::newRow("last week") << 7 * d << 7 * d << HistoryResolution::Minute;
    QTest::newRow("last month") << 30 * d << 30 * d << HistoryResolution::Hour;
    QTest::newRow("an hour two years ago") << 730 * d << h << HistoryResolution::Hour;
}

void TestHistoryStore::resolutionFor()
{
    QFETCH(qint64, age);
    QFETCH(qint64, span);
    QFETCH(HistoryResolution, expected);
    const qint64 now = utc("2026-03-01T12:00:00.000");
    HistoryQuery query("/nonexistent/history.sqlite", [now] { return now; });
    QCOMPARE(query.resolutionFor(now - age, now - age + span), expected);
    QCOMPARE(query.series(0, now - age, now - age + span).resolution, expected); // says which it read at
}

void TestHistoryStore::damagedFileSetAside_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("setAside");
    for (const char* damage :
         {"random bytes, with a log", "a line of text", "history cut short",
          "history with a page overwritten", "another program's database", "history of another layout"})
        QTest::newRow(damage) << damage << true;
    QTest::newRow("empty file") << "empty file" << false;
    QTest::newRow("sound history") << "sound history" << false;
}

// A history.sqlite that is no usable history at start-up is set aside whole, with its log,
// recording begins in a new file, and the caller is told exactly once.
void TestHistoryStore::damagedFileSetAside()
{
    QFETCH(QString, damage);
    QFETCH(bool, setAside);
    QTemporaryDir dir;
    const QString path = historyIn(dir);
    // Three days back: old enough to be rolled up, young enough to keep its sweeps.
    const qint64 old =
        HistoryTime::slotStart(QDateTime::currentMSecsSinceEpoch() - 3 * HistoryTime::day, 3000);
    if (damage.startsWith("history") || damage == "sound history") {
        {
            HistoryRecorder recorder(path);
            for (int i = 0; i < 3000; ++i)
                if (recorder.record(makeSweep(old + i * 3000)), i % 500 == 499)
                    QVERIFY(recorder.waitUntilWritten(30000));
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.size() > 200000);
        if (damage.contains("cut"))
            QVERIFY(f.resize(f.size() * 2 / 5));
        if (damage.contains("overwritten"))
            QVERIFY(f.seek(f.size() / 2 / 4096 * 4096) && f.write(randomBytes(4096)) == 4096);
        if (damage.contains("layout")) {
            f.close();
            QVERIFY(QFile::remove(path));
            QVERIFY(
                runSql(path, HistoryStore::schemaStatements() +
                                 QStringList{"PRAGMA application_id=1330792521", "PRAGMA user_version=7"}));
        }
    } else if (damage.startsWith("random")) {
        QVERIFY(writeFile(path, randomBytes(65536)) && writeFile(path + "-wal", randomBytes(8192)));
    } else if (damage.startsWith("another")) {
        QVERIFY(runSql(path, {"CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT)",
                              "INSERT INTO notes(text) VALUES('kept as it was')"}));
    } else {
        QVERIFY(writeFile(path, damage.startsWith("empty") ? "" : "not a database\n"));
    }
    const QByteArray before = hashOf(path);
    HistoryQuery query(path); // made before the recorder, it follows it to the new file
    query.series(0, old, old + HistoryTime::day, HistoryResolution::Raw);

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int run = 0; run < 2; ++run) { // told once: the next start finds a sound file
        HistoryRecorder recorder(path);
        QSignalSpy aside(&recorder, &HistoryRecorder::setAside);
        QSignalSpy state(&recorder, &HistoryRecorder::stateChanged);
        for (int i = 0; i < 10; ++i)
            recorder.record(makeSweep(now - 30000 + (run * 10 + i) * 3000));
        QVERIFY(recorder.waitUntilWritten(30000));
        QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
        QCOMPARE(recorder.stats().written, qint64(10));
        QTRY_COMPARE(state.count(), 1); // what it has to say has arrived by now
        QCOMPARE(state.first().at(0).value<HistoryRecorder::State>(), HistoryRecorder::State::Recording);
        QCOMPARE(aside.count(), setAside && run == 0 ? 1 : 0);
        const QStringList broken = QDir(dir.path()).entryList({"history.sqlite.broken-*"}, QDir::Files);
        QCOMPARE(broken.isEmpty(), !setAside);
        if (!aside.isEmpty()) {
            const QString name = QFileInfo(aside.first().at(0).toString()).fileName();
            QVERIFY2(QRegularExpression("^history\\.sqlite\\.broken-\\d{8}-\\d{6}$").match(name).hasMatch(),
                     qPrintable(name));
            QCOMPARE(aside.first().at(1).toString(), HistoryRecorder::setAsideMessage(name));
            QVERIFY(aside.first().at(1).toString().startsWith("История повреждена и отложена в "));
            QCOMPARE(hashOf(dir.filePath(name)), before); // as it was, with its log if it had one
            QCOMPARE(broken.first(), name);
            for (const QString& other : broken.mid(1))
                QVERIFY2(other == name + "-wal" || other == name + "-shm", qPrintable(other));
        }
    }
    QCOMPARE(quickCheck(path), QString("ok"));
    // The new sweeps are there, the old ones only when the file was sound.
    const HistorySeries fresh = query.series(3, now - 30000, now, HistoryResolution::Raw);
    QVERIFY2(query.lastError().isEmpty(), qPrintable(query.lastError()));
    QCOMPARE(fresh.points.size(), 10);
    QCOMPARE(fresh.points.first().vMean, std::round(voltageAt(now - 30000, 3) * 1000) / 1000);
    QCOMPARE(query.series(3, old, old + HistoryTime::day, HistoryResolution::Raw).points.size(),
             damage == "sound history" ? 3000 : 0);
}

void TestHistoryStore::fullDisk_data()
{
    QTest::addColumn<int>("roomBytes"); // beyond the largest file when the disk fills; -1: none at all
    QTest::newRow("no room at all") << -1;
    QTest::newRow("room for a few sweeps") << 16384;
}

// Recording stops with a message, the caller carries on, sweeps beyond the bounded queue are
// dropped oldest first, and once writes succeed again recording resumes by itself.
void TestHistoryStore::fullDisk()
{
    QFETCH(int, roomBytes);
    QTemporaryDir dir;
    const QString path = historyIn(dir);
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
    const qint64 largest = qMax(QFileInfo(path).size(), QFileInfo(path + "-wal").size());
    QVERIFY(limitFileSize(roomBytes < 0 ? 4096 : rlim_t(largest + roomBytes)));
    // Sweep after sweep until the disk refuses one, then as many again as the queue holds and more.
    const qint64 fullFrom = t;
    int duringFull = 0;
    for (; duringFull < 20000 && recorder.state() != HistoryRecorder::State::DiskFull; ++duringFull) {
        recordNext();
        QThread::msleep(1);
    }
    QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
    for (int i = 0; i < 3 * options.queueLimit; ++i, ++duringFull)
        recordNext();
    QTRY_COMPARE(lastMessage(), QString("Нет места на диске: история не записывается"));
    QCOMPARE(state.last().at(0).value<HistoryRecorder::State>(), HistoryRecorder::State::DiskFull);
    if (roomBytes < 0) { // retries fail quietly: no message comes and goes while the disk stays full
        const int messages = state.count();
        QTest::qWait(4 * options.retryMs);
        QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
        QCOMPARE(state.count(), messages);
    }
    QVERIFY(limitFileSize(RLIM_INFINITY));
    for (int i = 0; i < 500 && recorder.state() != HistoryRecorder::State::Recording; ++i, ++duringFull) {
        recordNext();
        QTest::qWait(20);
    }
    QTRY_COMPARE(lastMessage(), HistoryRecorder::resumedMessage());
    const qint64 afterFrom = t;
    for (int i = 0; i < 5; ++i)
        recordNext();
    QVERIFY(recorder.waitUntilWritten(10000));
    QCOMPARE(quickCheck(path), QString("ok"));
    // Before and after, everything; while full, whatever the disk took and then the newest
    // the queue held.
    const HistorySeries raw = HistoryQuery(path).series(9, start, t, HistoryResolution::Raw);
    QSet<qint64> stored;
    for (const HistoryPoint& p : raw.points)
        stored.insert(p.missing ? -1 : p.msecs);
    int keptWhileFull = 0;
    for (qint64 s = start; s < t; s += 3000) {
        const bool whileFull = s >= fullFrom && s < afterFrom;
        if (!whileFull || s >= afterFrom - options.queueLimit * 3000)
            QVERIFY2(stored.contains(s), qPrintable(QString("sweep %1 lost").arg((s - start) / 3000)));
        keptWhileFull += whileFull && stored.contains(s) ? 1 : 0;
    }
    QCOMPARE(recorder.stats().dropped + keptWhileFull, qint64(duringFull));
    QCOMPARE(recorder.stats().written, qint64(raw.points.size()));
}

void TestHistoryStore::csv_data()
{
    QTest::addColumn<QVector<HistoryCsvColumn>>("columns");
    QTest::addColumn<QStringList>("lines"); // after the byte order mark and "Время"
    const qint64 t1 = utc("2026-03-01T10:00:00.000"), t2 = t1 + 3000, t3 = t1 + 60000;
    const auto column = [](const QString& name, int decimals, const QMap<qint64, double>& values) {
        return HistoryCsvColumn{name, decimals, values};
    };
    QTest::newRow("two batteries, same times")
        << QVector<HistoryCsvColumn>{column("МСД 05, В", 3, {{t1, 13.5}, {t2, 13.512}}),
                                     column("Среднее, В", 3, {{t1, 13.4004}, {t2, 13.4006}})}
        << QStringList{";МСД 05, В;Среднее, В", "01.03.2026 10:00:00;13,500;13,400",
                       "01.03.2026 10:00:03;13,512;13,401"};
    QTest::newRow("times one column lacks, oldest first")
        << QVector<HistoryCsvColumn>{column("A", 3, {{t3, 12.25}, {t1, 12.0}}), column("B", 1, {{t2, 11.0}})}
        << QStringList{";A;B", "01.03.2026 10:00:00;12,000;", "01.03.2026 10:00:03;;11,0",
                       "01.03.2026 10:01:00;12,250;"};
    QTest::newRow("not a number is an empty cell")
        << QVector<HistoryCsvColumn>{column("A", 3, {{t1, 13.1}, {t2, qQNaN()}}),
                                     column("B", 1, {{t1, -5.25}, {t2, -0.04}})}
        << QStringList{";A;B", "01.03.2026 10:00:00;13,100;-5,3", "01.03.2026 10:00:03;;0,0"};
    QTest::newRow("separator and quotes in a heading")
        << QVector<HistoryCsvColumn>{column("МСД 1; \"левый\"", 3, {{t1, 1.0}})}
        << QStringList{";\"МСД 1; \"\"левый\"\"\"", "01.03.2026 10:00:00;1,000"};
    HistorySeries series; // its gap leaves no value behind, so the cells stay empty
    for (int i = 0; i < 3; ++i)
        series.points << HistoryPoint{t1 + i * 3000, 0, 13.0 + 0.1 * i, 0, 0, 21.0 + i, 0, i == 1};
    QTest::newRow("a series' means") << QVector<HistoryCsvColumn>{HistoryCsv::voltageColumn("U", series),
                                                                  HistoryCsv::temperatureColumn("T", series)}
                                     << QStringList{";U;T", "01.03.2026 10:00:00;13,000;21,0",
                                                    "01.03.2026 10:00:06;13,200;23,0"};
    QTest::newRow("nothing to show: the header alone")
        << QVector<HistoryCsvColumn>{column("A", 3, {})} << QStringList{";A"};
}

void TestHistoryStore::csv()
{
    QFETCH(QVector<HistoryCsvColumn>, columns);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    QString error;
    QVERIFY2(HistoryCsv::write(dir.filePath("история.csv"), columns, &error, Qt::UTC), qPrintable(error));
    QFile file(dir.filePath("история.csv"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "\xEF\xBB\xBF" + QString("Время" + lines.join("\r\n") + "\r\n").toUtf8());
    QVERIFY(!HistoryCsv::write(dir.filePath("нет такой папки/история.csv"), columns, &error));
    QVERIFY(!error.isEmpty() && !QFile::exists(dir.filePath("нет такой папки")));
}

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_history_store.moc"
