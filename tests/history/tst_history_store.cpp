// history.sqlite: sweeps read back at every resolution, one battery or a group, rolled up or
// worked out on the fly; expiry by an injected clock; the choice of resolution; a damaged file
// set aside; a full disk; a recorder killed at random moments (this program as its child); CSV.
#include "../common/FileSizeLimit.h"
#include "../common/HistorySupport.h"
#include "history/HistoryCsv.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistoryTime.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <csignal>
#include <functional>

Q_DECLARE_METATYPE(QVector<HistoryCsvColumn>)
Q_DECLARE_METATYPE(HistoryResolution)

namespace {

const char kChildFlag[] = "--recorder-child";

// Runs SQL on a connection of the test's own; returns the first value of the last statement.
QString sql(const QString& path, const QStringList& statements)
{
    QString result = "failed";
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(path);
        const bool open = db.open();
        QSqlQuery q(db);
        for (const QString& s : statements)
            result =
                open && q.exec(s) ? (q.next() ? q.value(0).toString() : QString()) : q.lastError().text();
    }
    QSqlDatabase::removeDatabase("test");
    return result;
}

// A battery's points as "time min/mean/max mV min/mean/max dC", "time -" for a gap.
QStringList pointsRead(const HistorySeries& series)
{
    QStringList lines;
    for (const HistoryPoint& p : series.points) {
        const bool gap = qIsNaN(p.vMean) && qIsNaN(p.vMin) && qIsNaN(p.tMean) && qIsNaN(p.tMax);
        lines << (p.missing != gap ? QString("a gap with figures, or figures called a gap")
                  : p.missing      ? QString("%1 -").arg(p.msecs)
                                   : QString("%1 %2/%3/%4 %5/%6/%7")
                                    .arg(p.msecs)
                                    .arg(qRound64(p.vMin * 1000))
                                    .arg(qRound64(p.vMean * 1000))
                                    .arg(qRound64(p.vMax * 1000))
                                    .arg(qRound64(p.tMin * 10))
                                    .arg(qRound64(p.tMean * 10))
                                    .arg(qRound64(p.tMax * 10)));
    }
    return lines;
}

// What pointsRead should say, worked out from the sweeps: extremes and the mean (to the
// nearest fixed-point step) of the valid readings in each slot.
QStringList expectedPoints(const QVector<HistorySweep>& sweeps, int battery, qint64 slot)
{
    QMap<qint64, QVector<qint64>> mv, dc;
    for (const HistorySweep& s : sweeps) {
        const qint64 at = s.msecsSinceEpoch / slot * slot;
        QVector<qint64>&v = mv[at], &t = dc[at];
        for (const HistoryReading& r : s.readings) {
            if (r.battery == battery && !r.missing && !qIsNaN(r.voltage)) {
                v << qRound64(r.voltage * 1000);
                t << qRound64(r.temperature * 10);
            }
        }
    }
    QStringList lines;
    const auto figures = [](const QVector<qint64>& v) {
        return QString("%1/%2/%3")
            .arg(*std::min_element(v.begin(), v.end()))
            .arg(std::llround(double(std::accumulate(v.begin(), v.end(), qint64(0))) / v.size()))
            .arg(*std::max_element(v.begin(), v.end()));
    };
    for (auto it = mv.cbegin(); it != mv.cend(); ++it)
        lines << QString::number(it.key()) +
                     (it->isEmpty() ? " -" : " " + figures(*it) + " " + figures(dc.value(it.key())));
    return lines;
}

HistoryResolution resolutionOf(qint64 slot)
{
    return slot == 1                     ? HistoryResolution::Raw
           : slot == HistoryTime::minute ? HistoryResolution::Minute
                                         : HistoryResolution::Hour;
}

QByteArray hashOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1) : "";
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Records sweeps 3 s apart from the given start as fast as it can, its clock running with the
// sweeps so hours roll up meanwhile, and prints each sweep's time once it is committed.
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
            QByteArray lines;
            for (qint64 time : times)
                lines += QByteArray::number(time) + '\n';
            if (::write(STDOUT_FILENO, lines.constData(), size_t(lines.size())) != lines.size())
                ::_exit(3);
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
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a full disk fails writes with EFBIG
    void readBack_data();
    void readBack();
    // With a clock of the test's own.
    void expiry_data();
    void expiry();
    void resolutionFor_data();
    void resolutionFor();
    // What goes wrong on disk.
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    void damagedFileSetAside_data();
    void damagedFileSetAside();
    void fullDisk_data();
    void fullDisk();
    void killedAtRandomMoments();
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
    const qint64 start = utc("2026-02-10T22:00:00Z"), end = start + 3 * HistoryTime::hour;
    // 2 is silent in the middle hour, 3 in minute 10 of every hour, 4 every other sweep, 5
    // always; 6 reads a voltage with noise-like steps, 7 not a number every third sweep, 8 the
    // extremes of the fixed point.
    const auto reading = [start](qint64 t, int b) {
        HistoryReading r = usualReading(t, b);
        const qint64 since = t - start, sweep = since / 3000;
        r.missing = (b == 2 && since / HistoryTime::hour == 1) || (b == 4 && sweep % 2 == 1) || b == 5 ||
                    (b == 3 && since / HistoryTime::minute % 60 == 10);
        r.voltage = b == 6 ? 13.8 - 0.0001 * double(sweep) + 0.003 * double((sweep * 7919) % 11)
                    : b == 7 && sweep % 3 == 0 ? qQNaN()
                    : b == 8                   ? (sweep % 2 ? 0.0005 : 65.534)
                                               : r.voltage;
        r.temperature = b == 8 ? (sweep % 4 < 2 ? -40.04 : 120.06) : r.temperature;
        return r;
    };
    QVector<HistorySweep> sweeps;
    for (qint64 t = start; t <= end; t += 3000) {
        sweeps << makeSweep(t, reading);
        if (t < start + HistoryTime::hour) { // 120 and up not there yet, the rest in reverse order
            sweeps.last().readings.resize(120);
            std::reverse(sweeps.last().readings.begin(), sweeps.last().readings.end());
        }
        if ((t + 3000) % HistoryTime::hour == 0 && t + 3000 < end) // a millisecond before the hour ends
            sweeps << makeSweep(t + 2999, reading);
    }
    QTemporaryDir dir;
    std::atomic<qint64> clock{start + now * HistoryTime::hour};
    HistoryRecorder recorder(
        dir.filePath("h.sqlite"), [&] { return clock.load(); }, quickOptions());
    QVERIFY(recordAll(recorder, sweeps));
    QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
    sweeps.removeLast(); // the one at the end is outside every span read

    HistoryQuery query(dir.filePath("h.sqlite"));
    const QVector<int> group{2, 3, 5, 8};
    for (qint64 slot : {qint64(1), HistoryTime::minute, HistoryTime::hour}) {
        for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 119, 120, 127})
            QCOMPARE(pointsRead(query.series(b, start, end, resolutionOf(slot))),
                     expectedPoints(sweeps, b, slot));
        // A group read takes other paths through the rows; its mean is that of the members'
        // means, a gap only where all of them are.
        const QVector<HistorySeries> members = query.groupSeries(group, start, end, resolutionOf(slot));
        const HistorySeries mean = query.groupMean(group, start, end, resolutionOf(slot));
        QCOMPARE(members.size(), group.size());
        QCOMPARE(mean.battery, -1);
        for (int m = 0; m < group.size(); ++m)
            QCOMPARE(pointsRead(members[m]), expectedPoints(sweeps, group[m], slot));
        QCOMPARE(mean.points.size(), members[0].points.size());
        for (int i = 0; i < mean.points.size(); ++i) {
            QVector<double> valid;
            for (const HistorySeries& s : members)
                if (!s.points[i].missing)
                    valid << s.points[i].vMean;
            const double expected = std::accumulate(valid.begin(), valid.end(), 0.0) / valid.size();
            QCOMPARE(mean.points[i].missing, valid.isEmpty());
            QVERIFY(valid.isEmpty() ? qIsNaN(mean.points[i].vMean)
                                    : qAbs(mean.points[i].vMean - expected) < 1e-9);
        }
    }
    QVERIFY(query.series(1, start - HistoryTime::hour, start, HistoryResolution::Raw).points.isEmpty());
}

void TestHistoryStore::expiry_data()
{
    QTest::addColumn<qint64>("later"); // after the first sweep
    // Whether the recorder saw the hours complete while it ran, or the program was closed
    // straight after the sweeps and started again only `later` (a clock that jumps).
    QTest::addColumn<bool>("stepByStep");
    const qint64 d = HistoryTime::day, h = HistoryTime::hour;
    for (const qint64 later :
         {6 * d, 7 * d + h / 2, 7 * d + 3 * h, 364 * d, 365 * d + 3 * h / 2, 365 * d + 3 * h})
        QTest::addRow("%.2f days on", double(later) / d) << later << true;
    QTest::newRow("started again a year and three hours on") << 365 * d + 3 * h << false;
    QTest::newRow("started again a week and three hours on") << 7 * d + 3 * h << false;
}

void TestHistoryStore::expiry()
{
    QFETCH(qint64, later);
    QFETCH(bool, stepByStep);
    const qint64 start = utc("2026-07-01T10:00:00Z"), end = start + 2 * HistoryTime::hour, spacing = 10000;
    QTemporaryDir dir;
    std::atomic<qint64> clock{stepByStep ? end + HistoryTime::minute : start};
    const auto now = [&] { return clock.load(); };
    auto recorder = std::make_unique<HistoryRecorder>(dir.filePath("h.sqlite"), now, quickOptions());
    QVector<HistorySweep> sweeps;
    for (qint64 t = start; t < end; t += spacing)
        sweeps << makeSweep(t);
    QVERIFY(recordAll(*recorder, sweeps));
    if (!stepByStep)
        recorder = std::make_unique<HistoryRecorder>(dir.filePath("h.sqlite"), now, quickOptions());
    clock = start + later;
    QVERIFY(recorder->waitUntilIdle(30000));

    int rawKept = 0, minutesKept = 0;
    for (qint64 t = start; t < end; t += spacing)
        rawKept += t >= clock - HistoryTime::rawKept;
    for (qint64 m = start; m < end; m += HistoryTime::minute)
        minutesKept +=
            m / HistoryTime::hour * HistoryTime::hour + HistoryTime::hour > clock - HistoryTime::minutesKept;
    HistoryQuery query(dir.filePath("h.sqlite"));
    QCOMPARE(query.series(7, start, end, HistoryResolution::Raw).points.size(), rawKept);
    QCOMPARE(query.series(7, start, end, HistoryResolution::Minute).points.size(), minutesKept);
    const HistorySeries hours = query.series(7, start, end, HistoryResolution::Hour); // kept for good
    QCOMPARE(hours.points.size(), 2);
    QVERIFY(!hours.points[0].missing && !hours.points[1].missing && hours.points[1].vMean > 11.9);
}

void TestHistoryStore::resolutionFor_data()
{
    QTest::addColumn<qint64>("age"); // of the span's start
    QTest::addColumn<qint64>("span");
    QTest::addColumn<HistoryResolution>("expected");
    const qint64 h = HistoryTime::hour, d = HistoryTime::day;
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
    const qint64 now = utc("2026-03-01T12:00:00Z");
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
    const QString path = dir.filePath("history.sqlite");
    // Three days back: old enough to be rolled up, young enough to keep its sweeps.
    const qint64 old = QDateTime::currentMSecsSinceEpoch() / 3000 * 3000 - 3 * HistoryTime::day;
    QFile file(path);
    if (damage.contains("cut") || damage.contains("page") || damage.startsWith("sound")) {
        QVector<HistorySweep> sweeps;
        for (int i = 0; i < 3000; ++i)
            sweeps << makeSweep(old + i * 3000);
        QVERIFY(recordAll(*std::make_unique<HistoryRecorder>(path), sweeps));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > 200000);
        QVERIFY(!damage.contains("cut") || file.resize(file.size() * 2 / 5));
        QVERIFY(!damage.contains("page") ||
                (file.seek(file.size() / 8192 * 4096) && file.write(randomBytes(4096))));
    } else if (damage.contains("layout")) {
        sql(path, HistoryStore::schemaStatements() << "PRAGMA application_id=1330792521"
                                                   << "PRAGMA user_version=7");
    } else if (damage.startsWith("random")) {
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(randomBytes(65536)));
        QFile wal(path + "-wal");
        QVERIFY(wal.open(QIODevice::WriteOnly) && wal.write(randomBytes(8192)));
    } else if (damage.startsWith("another")) {
        sql(path,
            {"CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT)", "INSERT INTO notes(text) VALUES('x')"});
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write(damage.startsWith("empty") ? "" : "not a database\n") >= 0);
    }
    file.close();
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
    QCOMPARE(sql(path, {"PRAGMA quick_check"}), QString("ok"));
    // The new sweeps are there, the old ones only when the file was sound.
    const HistorySeries fresh = query.series(3, now - 30000, now, HistoryResolution::Raw);
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
    const QString path = dir.filePath("h.sqlite");
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - HistoryTime::hour;
    HistoryRecorder::Options options = quickOptions();
    options.queueLimit = 100;
    HistoryRecorder recorder(path, HistoryRecorder::Clock(), options);
    QSignalSpy state(&recorder, &HistoryRecorder::stateChanged);
    qint64 t = start;
    int duringFull = 0;
    const auto lastMessage = [&] { return state.isEmpty() ? QString() : state.last().at(1).toString(); };
    const auto recordUntil = [&](HistoryRecorder::State wanted, int most, int waitMs) {
        for (int i = 0; i < most && recorder.state() != wanted; ++i, ++duringFull, t += 3000) {
            recorder.record(makeSweep(t));
            QTest::qWait(waitMs);
        }
    };
    for (; t < start + 60000; t += 3000)
        recorder.record(makeSweep(t));
    QVERIFY(recorder.waitUntilWritten(10000));
    const qint64 largest = qMax(QFileInfo(path).size(), QFileInfo(path + "-wal").size());
    QVERIFY(limitFileSize(roomBytes < 0 ? 4096 : rlim_t(largest + roomBytes)));
    const qint64 fullFrom = t;
    // Sweep after sweep until the disk refuses one, then as many again as the queue holds and more.
    recordUntil(HistoryRecorder::State::DiskFull, 20000, 1);
    QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
    recordUntil(HistoryRecorder::State::Starting, 3 * options.queueLimit, 0);
    QTRY_COMPARE(lastMessage(), QString("Нет места на диске: история не записывается"));
    QCOMPARE(state.last().at(0).value<HistoryRecorder::State>(), HistoryRecorder::State::DiskFull);
    const int messages = state.count();
    if (roomBytes < 0) { // retries fail quietly: no message comes and goes while the disk stays full
        QTest::qWait(4 * options.retryMs);
        QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
        QCOMPARE(state.count(), messages);
    }
    QVERIFY(limitFileSize(RLIM_INFINITY));
    recordUntil(HistoryRecorder::State::Recording, 500, 20);
    QTRY_COMPARE(lastMessage(), HistoryRecorder::resumedMessage());
    const qint64 afterFrom = t;
    for (const qint64 end = t + 15000; t < end; t += 3000)
        recorder.record(makeSweep(t));
    QVERIFY(recorder.waitUntilWritten(10000));
    QCOMPARE(sql(path, {"PRAGMA quick_check"}), QString("ok"));
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
        keptWhileFull += whileFull && stored.contains(s);
    }
    QCOMPARE(recorder.stats().dropped + keptWhileFull, qint64(duringFull));
    QCOMPARE(recorder.stats().written, qint64(raw.points.size()));
}

// Killed with SIGKILL at random moments while it writes and rolls up: the file passes
// quick_check every time, every sweep reported committed reads back with its readings, and
// the minutes and hours agree with the sweeps they come from.
void TestHistoryStore::killedAtRandomMoments()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    const qint64 base = utc("2026-03-01T00:00:00Z"), roundSpacing = 6 * HistoryTime::hour;
    QSet<qint64> acknowledged;
    for (int round = 0; round < 20; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(
            QCoreApplication::applicationFilePath(),
            {kChildFlag, path, QString::number(base + round * roundSpacing), QString::number(seed + round)});
        QVERIFY(writer.waitForStarted(10000));
        if (round % 5 != 4) // mostly while it writes, now and then while it opens the file
            QVERIFY(writer.waitForReadyRead(30000));
        QThread::msleep(random.bounded(250));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(10000));
        // Only whole lines count: the last one may have been cut by the kill.
        const QByteArray output = writer.readAllStandardOutput();
        for (const QByteArray& line : output.left(output.lastIndexOf('\n') + 1).split('\n'))
            if (!line.isEmpty())
                acknowledged.insert(line.toLongLong());
        QCOMPARE(sql(path, {"PRAGMA quick_check"}), QString("ok"));
        QVERIFY2(QDir(dir.path()).entryList({"history.sqlite.broken-*"}).isEmpty(),
                 "a sound file was set aside");
    }
    QVERIFY2(acknowledged.size() > 1000, "the writer hardly got to write: the test proved little");

    HistoryQuery query(path);
    const qint64 to = base + 30 * HistoryTime::day;
    QVector<HistorySweep> sweeps;
    QHash<qint64, double> stored;
    for (const HistoryPoint& p : query.series(7, base, to, HistoryResolution::Raw).points) {
        sweeps << HistorySweep{p.msecs, {HistoryReading{7, p.vMean, p.tMean, p.missing}}};
        stored.insert(p.msecs, p.vMean);
    }
    for (qint64 t : qAsConst(acknowledged)) {
        QVERIFY2(stored.contains(t), qPrintable(QString("sweep at %1 acknowledged but not on disk").arg(t)));
        QCOMPARE(qRound64(stored.value(t) * 1000), qRound64(voltageAt(t, 7) * 1000));
    }
    for (qint64 slot : {HistoryTime::minute, HistoryTime::hour}) // rolled up or not, they agree
        QCOMPARE(pointsRead(query.series(7, base, to, resolutionOf(slot))), expectedPoints(sweeps, 7, slot));
}

void TestHistoryStore::csv_data()
{
    QTest::addColumn<QVector<HistoryCsvColumn>>("columns");
    QTest::addColumn<QStringList>("lines"); // after the byte order mark and "Время"
    const qint64 t1 = utc("2026-03-01T10:00:00Z"), t2 = t1 + 3000, t3 = t1 + 60000;
    QTest::newRow("times one column lacks, not a number, oldest first")
        << QVector<HistoryCsvColumn>{{"A, В", 3, {{t3, 12.25}, {t1, 13.4006}, {t2, qQNaN()}}},
                                     {"B, °C", 1, {{t2, -0.04}, {t1, -5.25}}}}
        << QStringList{";A, В;B, °C", "01.03.2026 10:00:00;13,401;-5,3", "01.03.2026 10:00:03;;0,0",
                       "01.03.2026 10:01:00;12,250;"};
    QTest::newRow("separator and quotes in a heading")
        << QVector<HistoryCsvColumn>{{"МСД 1; \"левый\"", 3, {{t1, 1.0}}}}
        << QStringList{";\"МСД 1; \"\"левый\"\"\"", "01.03.2026 10:00:00;1,000"};
    HistorySeries series; // its gap leaves no value behind, so the cells stay empty
    for (int i = 0; i < 3; ++i)
        series.points << HistoryPoint{t1 + i * 3000, 0, 13.0 + 0.1 * i, 0, 0, 21.0 + i, 0, i == 1};
    QTest::newRow("a series' means") << QVector<HistoryCsvColumn>{HistoryCsv::voltageColumn("U", series),
                                                                  HistoryCsv::temperatureColumn("T", series)}
                                     << QStringList{";U;T", "01.03.2026 10:00:00;13,000;21,0",
                                                    "01.03.2026 10:00:06;13,200;23,0"};
    QTest::newRow("nothing to show: the header alone")
        << QVector<HistoryCsvColumn>{{"A", 3, {}}} << QStringList{";A"};
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

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], kChildFlag) == 0)
        return recorderChild(argv);
    TestHistoryStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_history_store.moc"
