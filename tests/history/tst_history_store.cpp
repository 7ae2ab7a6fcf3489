// history.sqlite: sweeps with gaps read back raw and rolled up, expiry by an injected clock,
// the resolution of a span, a damaged file set aside, a full disk, a recorder killed at random
// moments (this program as its child), CSV.
#include "../common/FileSizeLimit.h"
#include "../common/HistorySupport.h"
#include "../common/StoreKill.h"
#include "history/HistoryCsv.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

Q_DECLARE_METATYPE(QVector<HistoryCsvColumn>)

namespace {

const char kChildFlag[] = "--recorder-child";

// Runs SQL on a connection of the test's own; the first value of the last statement.
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

// "time min/mean/max mV min/mean/max dC" a point, "time -" a gap.
QStringList pointsRead(const HistorySeries& series)
{
    QStringList lines;
    for (const HistoryPoint& p : series.points) {
        QString line = QString::number(p.msecs);
        for (double v :
             {p.vMin * 1000, p.vMean * 1000, p.vMax * 1000, p.tMin * 10, p.tMean * 10, p.tMax * 10})
            line += p.missing ? (qIsNaN(v) ? "" : " figures in a gap") : " " + QString::number(qRound64(v));
        lines << (p.missing ? line + " -" : line);
    }
    return lines;
}

// What pointsRead should say: extremes and the mean, rounded half away from zero to the
// fixed-point step, of the valid readings in each slot.
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

// Records sweeps 3 s apart as fast as it can, its clock running with them so hours roll up
// meanwhile, and prints each sweep's time once it is committed.
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
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    void readBack();
    void expiry_data();
    void expiry();
    void damagedFileSetAside_data();
    void damagedFileSetAside();
    void fullDisk();
    void killedAtRandomMoments();
    void csv_data();
    void csv();
};

void TestHistoryStore::readBack()
{
    const qint64 start = utc("2026-02-10T22:00:00Z"), end = start + 3 * HistoryTime::hour;
    // 2 silent in the middle hour, 3 in minute 10 of every hour, 4 every other sweep; 5 reads a
    // voltage with noise-like steps, 6 not a number every third sweep, 7 the fixed point's extremes.
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
    HistoryRecorder recorder(
        dir.filePath("h.sqlite"), [&] { return end + HistoryTime::hour; }, quickOptions());
    QVERIFY(recordAll(recorder, sweeps));
    HistoryQuery query(dir.filePath("h.sqlite"));
    for (HistoryResolution r : {HistoryResolution::Raw, HistoryResolution::Minute, HistoryResolution::Hour})
        for (int b : {0, 2, 3, 4, 5, 6, 7, 120})
            QCOMPARE(pointsRead(query.series(b, start, end, r)),
                     expectedPoints(sweeps, b,
                                    r == HistoryResolution::Raw      ? 1
                                    : r == HistoryResolution::Minute ? HistoryTime::minute
                                                                     : HistoryTime::hour));
    // Six hours are read raw, seven by minutes.
    HistoryQuery clocked(dir.filePath("h.sqlite"), [end] { return end; });
    QCOMPARE(clocked.series(0, end - 6 * HistoryTime::hour, end).resolution, HistoryResolution::Raw);
    QCOMPARE(clocked.resolutionFor(end - 7 * HistoryTime::hour, end), HistoryResolution::Minute);
}

void TestHistoryStore::expiry_data()
{
    QTest::addColumn<qint64>("later"); // after the first sweep
    // Seen step by step while running, or started again only `later` (a clock that jumps).
    QTest::addColumn<bool>("stepByStep");
    const qint64 d = HistoryTime::day, h = HistoryTime::hour;
    QTest::newRow("7 days and half an hour") << 7 * d + h / 2 << true;
    QTest::newRow("started again a year and three hours on") << 365 * d + 3 * h << false;
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
    QCOMPARE(query.series(7, start, end, HistoryResolution::Hour).points.size(), 2); // kept for good
}

void TestHistoryStore::damagedFileSetAside_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("setAside");
    for (const char* damage : {"random bytes, with a log", "history cut short", "another program's database"})
        QTest::newRow(damage) << damage << true;
    QTest::newRow("sound history") << "sound history" << false;
}

// A file that is no usable history at start-up is set aside whole, with its log, recording
// begins in a new file, and the caller is told once.
void TestHistoryStore::damagedFileSetAside()
{
    QFETCH(QString, damage);
    QFETCH(bool, setAside);
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    const qint64 old = QDateTime::currentMSecsSinceEpoch() / 3000 * 3000 - 3 * HistoryTime::day; // rolled up
    QFile file(path);
    QByteArray noise(65536, '\0');
    for (char& c : noise)
        c = char(QRandomGenerator::global()->bounded(256));
    if (damage.contains("hist")) {
        QVector<HistorySweep> sweeps;
        for (int i = 0; i < 3000; ++i)
            sweeps << makeSweep(old + i * 3000);
        QVERIFY(recordAll(*std::make_unique<HistoryRecorder>(path), sweeps));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > 200000);
        QVERIFY(!damage.contains("cut") || file.resize(file.size() * 2 / 5));
    } else if (damage.startsWith("another")) {
        sql(path,
            {"CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT)", "INSERT INTO notes(text) VALUES('x')"});
    } else if (damage.startsWith("random")) {
        QFile wal(path + "-wal");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(noise) && wal.open(QIODevice::WriteOnly) &&
                wal.write(noise.left(8192)));
    }
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    HistoryQuery query(path); // made before the recorder, it follows it to the new file
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int run = 0; run < 2; ++run) { // told once: the next start finds a sound file
        HistoryRecorder recorder(path);
        QSignalSpy told(&recorder, &HistoryRecorder::setAside);
        for (int i = 0; i < 10; ++i)
            recorder.record(makeSweep(now - 30000 + (run * 10 + i) * 3000));
        QVERIFY(recorder.waitUntilWritten(30000));
        QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
        QTRY_COMPARE(told.count(), setAside && run == 0 ? 1 : 0); // queued to this thread
        const QStringList broken = QDir(dir.path()).entryList({"history.sqlite.broken-*"}, QDir::Files);
        QCOMPARE(broken.isEmpty(), !setAside);
        if (!told.isEmpty()) {
            const QString name = QFileInfo(told.first().at(0).toString()).fileName();
            QCOMPARE(told.first().at(1).toString(), HistoryRecorder::setAsideMessage(name));
            QFile aside(dir.filePath(name)); // as it was, with its log if it had one
            QVERIFY(aside.open(QIODevice::ReadOnly) && aside.readAll() == before);
        }
    }
    QCOMPARE(sql(path, {"PRAGMA quick_check"}), QString("ok"));
    // The new sweeps are there, the old ones only when the file was sound.
    QCOMPARE(query.series(3, now - 30000, now, HistoryResolution::Raw).points.size(), 10);
    QCOMPARE(query.series(3, old, old + HistoryTime::day, HistoryResolution::Raw).points.size(),
             damage == "sound history" ? 3000 : 0);
}

// The disk fills: recording stops with a message, sweeps beyond the bounded queue are dropped
// oldest first, retries fail quietly, and once writes succeed recording resumes by itself.
void TestHistoryStore::fullDisk()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("h.sqlite");
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - HistoryTime::hour;
    HistoryRecorder::Options options = quickOptions();
    options.queueLimit = 100;
    HistoryRecorder recorder(path, HistoryRecorder::Clock(), options);
    QSignalSpy state(&recorder, &HistoryRecorder::stateChanged);
    qint64 t = start;
    int duringFull = 0;
    const auto recordUntil = [&](HistoryRecorder::State wanted, int most, int waitMs) {
        for (int i = 0; i < most && recorder.state() != wanted; ++i, ++duringFull, t += 3000) {
            recorder.record(makeSweep(t));
            QTest::qWait(waitMs);
        }
    };
    for (; t < start + 60000; t += 3000)
        recorder.record(makeSweep(t));
    QVERIFY(recorder.waitUntilWritten(10000) && limitFileSize(4096));
    recordUntil(HistoryRecorder::State::DiskFull, 20000, 1);
    recordUntil(HistoryRecorder::State::Starting, 3 * options.queueLimit, 0); // more than the queue holds
    QTRY_VERIFY(!state.isEmpty() &&
                state.last().at(1).toString() == "Нет места на диске: история не записывается");
    const int messages = state.count();
    QTest::qWait(4 * options.retryMs);
    QCOMPARE(recorder.state(), HistoryRecorder::State::DiskFull);
    QCOMPARE(state.count(), messages);
    QVERIFY(limitFileSize(RLIM_INFINITY));
    recordUntil(HistoryRecorder::State::Recording, 500, 20);
    QTRY_COMPARE(state.last().at(1).toString(), HistoryRecorder::resumedMessage());
    for (const qint64 end = t + 15000; t < end; t += 3000)
        recorder.record(makeSweep(t));
    QVERIFY(recorder.waitUntilWritten(10000));
    QCOMPARE(sql(path, {"PRAGMA quick_check"}), QString("ok"));
    // While full, the newest the queue held are kept; all others before and after.
    const HistorySeries raw = HistoryQuery(path).series(9, start, t, HistoryResolution::Raw);
    const int lost = int((t - start) / 3000) - raw.points.size();
    QCOMPARE(raw.points.last().msecs, t - 3000);
    QVERIFY(lost > 0 && lost <= duringFull - options.queueLimit);
    QCOMPARE(recorder.stats().dropped, qint64(lost));
    QCOMPARE(recorder.stats().written, qint64(raw.points.size()));
}

// SIGKILL at random moments while it writes and rolls up: the file passes quick_check every
// time, every sweep said committed reads back, and minutes and hours agree with the sweeps.
void TestHistoryStore::killedAtRandomMoments()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    const qint64 base = utc("2026-03-01T00:00:00Z");
    QSet<qint64> acknowledged;
    for (int round = 0; round < 20; ++round) {
        QList<QByteArray> lines;
        QVERIFY(killAtRandomMoment({kChildFlag, path, QString::number(base + round * 6 * HistoryTime::hour),
                                    QString::number(seed + round)},
                                   round, random, &lines));
        for (const QByteArray& line : lines)
            acknowledged.insert(line.toLongLong());
        QCOMPARE(sql(path, {"PRAGMA quick_check"}), QString("ok"));
        QVERIFY2(QDir(dir.path()).entryList({"history.sqlite.broken-*"}).isEmpty(), "a sound file set aside");
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
    QCOMPARE(pointsRead(query.series(7, base, to, HistoryResolution::Minute)),
             expectedPoints(sweeps, 7, HistoryTime::minute));
    QCOMPARE(pointsRead(query.series(7, base, to, HistoryResolution::Hour)),
             expectedPoints(sweeps, 7, HistoryTime::hour));
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
    HistorySeries series; // its gap leaves no value behind, so the cells stay empty
    for (int i = 0; i < 3; ++i)
        series.points << HistoryPoint{t1 + i * 3000, 0, 13.0 + 0.1 * i, 0, 0, 21.0 + i, 0, i == 1};
    QTest::newRow("a series' means") << QVector<HistoryCsvColumn>{HistoryCsv::voltageColumn("U", series),
                                                                  HistoryCsv::temperatureColumn("T", series)}
                                     << QStringList{";U;T", "01.03.2026 10:00:00;13,000;21,0",
                                                    "01.03.2026 10:00:06;13,200;23,0"};
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
