// The battery history: what handing a sweep to the recorder costs the window's thread; a
// simulated week at the native rate (a sweep every 3 s, roll-up and clean-up included) with
// the writer's CPU per sweep and the file's size, carried over to a year; and the reads a
// chart makes: one battery's year by the hour, a group's day sweep by sweep.
//
// Files go to scratch folders inside the current directory, so they reach the disk the
// program would use.
#include "app/RoomFeed.h"
#include "core/Battery.h"
#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryTime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <random>

namespace {

constexpr qint64 sweepMs = 3000;
constexpr int batteries = 128;
const qint64 weekStart = 1772323200000; // 2026-03-01T00:00:00Z

// Readings as the line brings them: each battery near its own float voltage with 10 mV of
// noise and a daily swing, temperatures in half degrees, a reading lost now and then and
// one module (8 batteries) silent for ten minutes a day.
class Plant
{
public:
    Plant() : m_random(20260301)
    {
        std::uniform_real_distribution<double> volts(13.42, 13.58);
        std::uniform_real_distribution<double> degrees(23.0, 25.0);
        for (int b = 0; b < batteries; ++b) {
            m_volts[b] = volts(m_random);
            m_degrees[b] = degrees(m_random);
        }
    }

    HistorySweep sweep(qint64 t)
    {
        HistorySweep s;
        s.msecsSinceEpoch = t;
        s.readings.resize(batteries);
        const qint64 sinceStart = t - weekStart;
        const double phase = std::sin(2 * M_PI * double(sinceStart % HistoryTime::day) / HistoryTime::day);
        const int silentModule = int((sinceStart / HistoryTime::day) % 16);
        const bool moduleSilent = (sinceStart % HistoryTime::day) / HistoryTime::minute / 10 == 60;
        for (int b = 0; b < batteries; ++b) {
            HistoryReading& r = s.readings[b];
            r.battery = b;
            r.missing = (moduleSilent && b / 8 == silentModule) || m_lost(m_random) < 0.002;
            r.voltage = m_volts[b] + 0.05 * phase + m_noise(m_random);
            r.temperature = std::round((m_degrees[b] + 2.0 * phase + m_noiseT(m_random)) * 2) / 2;
        }
        return s;
    }

private:
    std::mt19937 m_random;
    std::normal_distribution<double> m_noise{0.0, 0.010};
    std::normal_distribution<double> m_noiseT{0.0, 0.2};
    std::uniform_real_distribution<double> m_lost{0.0, 1.0};
    double m_volts[batteries];
    double m_degrees[batteries];
};

QString scratchPattern()
{
    return QDir::currentPath() + "/bench_history-XXXXXX";
}

// Records `count` sweeps from `from` on, `spacing` apart, with the recorder's clock running
// with them, and waits until the roll-up and clean-up have caught up.
HistoryRecorder::Stats recordSimulated(const QString& path, qint64 from, qint64 spacing, qint64 count,
                                       Plant& plant)
{
    std::atomic<qint64> now{from};
    HistoryRecorder recorder(
        path, [&now] { return now.load(); }, HistoryRecorder::Options());
    for (qint64 i = 0; i < count; ++i) {
        const qint64 t = from + i * spacing;
        now = t;
        recorder.record(plant.sweep(t));
        if (i % 200 == 199 && !recorder.waitUntilWritten(60000))
            qFatal("the recorder does not keep up");
    }
    now = from + count * spacing + HistoryRecorder::Options().idleMs;
    if (!recorder.waitUntilIdle(600000))
        qFatal("the roll-up does not finish");
    return recorder.stats();
}

struct TableSizes
{
    double rawMb = 0;
    double minuteMb = 0;
    double hourMb = 0;
    double otherMb = 0; // meta, schema, free pages
    qint64 rawRows = 0;
    qint64 minuteRows = 0;
    qint64 hourRows = 0;
};

// Bytes of the pages each table takes, from SQLite's dbstat table.
TableSizes tableSizes(const QString& path)
{
    TableSizes sizes;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench-sizes");
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot open %s", qPrintable(path));
        QSqlQuery q(db);
        if (!q.exec("SELECT name, SUM(pgsize) FROM dbstat GROUP BY name"))
            qFatal("dbstat: %s", qPrintable(q.lastError().text()));
        double total = 0;
        while (q.next()) {
            const double mb = q.value(1).toDouble() / 1e6;
            const QString name = q.value(0).toString();
            (name == "raw"      ? sizes.rawMb
             : name == "minute" ? sizes.minuteMb
             : name == "hour"   ? sizes.hourMb
                                : sizes.otherMb) += mb;
            total += mb;
        }
        q.exec("PRAGMA freelist_count");
        q.next();
        const qint64 freePages = q.value(0).toLongLong();
        q.exec("PRAGMA page_size");
        q.next();
        sizes.otherMb += double(freePages * q.value(0).toLongLong()) / 1e6;
        for (auto [table, rows] : {std::pair<const char*, qint64*>("raw", &sizes.rawRows),
                                   std::pair<const char*, qint64*>("minute", &sizes.minuteRows),
                                   std::pair<const char*, qint64*>("hour", &sizes.hourRows)}) {
            q.exec(QString("SELECT COUNT(*) FROM %1").arg(table));
            q.next();
            *rows = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase("bench-sizes");
    return sizes;
}

double fileMb(const QString& path)
{
    return double(QFileInfo(path).size() + QFileInfo(path + "-wal").size()) / 1e6;
}

void BM_RecordCall(benchmark::State& state)
{
    QTemporaryDir dir(scratchPattern());
    HistoryRecorder recorder(QDir(dir.path()).filePath("history.sqlite"));
    Plant plant;
    QVector<HistorySweep> sweeps;
    for (int i = 0; i < 100; ++i)
        sweeps.append(plant.sweep(QDateTime::currentMSecsSinceEpoch() + i * sweepMs));
    double longestUs = 0;
    qint64 calls = 0;
    for (auto _ : state) {
        // A hundred calls timed one by one; the writer catches up between rounds.
        std::chrono::nanoseconds spent{0};
        for (const HistorySweep& s : qAsConst(sweeps)) {
            const auto begin = std::chrono::steady_clock::now();
            recorder.record(s);
            const auto took = std::chrono::steady_clock::now() - begin;
            spent += took;
            longestUs = std::max(longestUs, std::chrono::duration<double, std::micro>(took).count());
        }
        calls += sweeps.size();
        state.SetIterationTime(std::chrono::duration<double>(spent).count() / sweeps.size());
        recorder.waitUntilWritten(60000);
    }
    state.counters["longest_us"] = longestUs;
    state.counters["calls"] = double(calls);
}
BENCHMARK(BM_RecordCall)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// What the window's intake pays per sweep: the copy of 128 batteries' values and the hand-over.
void BM_FeedTakeSweep(benchmark::State& state)
{
    QTemporaryDir dir(scratchPattern());
    RoomFeed feed(QDir(dir.path()).filePath("history.sqlite"));
    std::vector<std::unique_ptr<Battery>> batteries;
    QList<QList<Battery*>> rows;
    for (int m = 0; m < 16; ++m) {
        QList<Battery*> row;
        for (int p = 0; p < 8; ++p) {
            batteries.push_back(std::make_unique<Battery>(m * 8 + p, m, p));
            batteries.back()->setVoltage(13.5);
            batteries.back()->setTemperature(24.0);
            row << batteries.back().get();
        }
        rows << row;
    }
    int n = 0;
    for (auto _ : state) {
        feed.takeSweep(rows);
        if (++n % 100 == 0) {
            state.PauseTiming();
            feed.recorder()->waitUntilWritten(60000);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_FeedTakeSweep)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// A week (201,600 sweeps), and nine days to see the raw sweeps expire as they should and
// the file stop growing by them.
void BM_SimulatedDays(benchmark::State& state)
{
    const int days = int(state.range(0));
    const qint64 sweeps = days * HistoryTime::day / sweepMs;
    for (auto _ : state) {
        QTemporaryDir dir(scratchPattern());
        const QString path = QDir(dir.path()).filePath("history.sqlite");
        Plant plant;
        const HistoryRecorder::Stats stats = recordSimulated(path, weekStart, sweepMs, sweeps, plant);
        if (stats.dropped != 0)
            qFatal("%lld sweeps dropped", stats.dropped);
        const TableSizes sizes = tableSizes(path);
        // A year holds a week of raw sweeps (older ones expire), and 365 days of minute and
        // of hour rows: the minute and hour tables of the days simulated times 365/days.
        const double spansPerYear = 365.0 / days;
        state.counters["sweeps"] = double(stats.written);
        state.counters["writer_cpu_us_per_sweep"] = double(stats.writerCpuNs) / 1e3 / double(stats.written);
        state.counters["longest_step_ms"] = double(stats.longestStepNs) / 1e6;
        state.counters["file_MB"] = fileMb(path);
        state.counters["raw_MB"] = sizes.rawMb;
        state.counters["minute_MB"] = sizes.minuteMb;
        state.counters["hour_MB"] = sizes.hourMb;
        state.counters["other_MB"] = sizes.otherMb;
        state.counters["raw_rows"] = double(sizes.rawRows);
        state.counters["raw_B_per_row"] = sizes.rawMb * 1e6 / double(sizes.rawRows);
        state.counters["minute_B_per_hour_row"] = sizes.minuteMb * 1e6 / double(sizes.minuteRows);
        state.counters["hour_B_per_row"] = sizes.hourMb * 1e6 / double(sizes.hourRows);
        state.counters["year_MB"] =
            sizes.rawMb + spansPerYear * (sizes.minuteMb + sizes.hourMb) + sizes.otherMb;
    }
}
BENCHMARK(BM_SimulatedDays)
    ->Arg(7)
    ->Arg(9)
    ->ArgName("days")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
// A whole year and a week more, for checking the carried-over figures (minutes expire in the
// last week): some minutes of CPU, so only when ORVIK_HISTORY_YEAR is set.
const bool yearRegistered = qEnvironmentVariableIsSet("ORVIK_HISTORY_YEAR") &&
                            benchmark::RegisterBenchmark("BM_SimulatedDays", BM_SimulatedDays)
                                ->Arg(372)
                                ->ArgName("days")
                                ->Unit(benchmark::kSecond)
                                ->UseRealTime()
                                ->Iterations(1);

// A year of hour rows made the way the program makes them: one sweep an hour through the
// recorder, rolled up as the clock passes each hour (the raw sweeps then expire).
const QString& yearOfHours()
{
    static QTemporaryDir dir(scratchPattern());
    static const QString path = QDir(dir.path()).filePath("history.sqlite");
    static bool made = false;
    if (!made) {
        Plant plant;
        recordSimulated(path, weekStart, HistoryTime::hour, 365 * 24, plant);
        made = true;
    }
    return path;
}

void BM_BatteryYearByHour(benchmark::State& state)
{
    const QString& path = yearOfHours();
    HistoryQuery query(path, [] { return weekStart + 365 * HistoryTime::day; });
    const int group = int(state.range(0));
    qint64 points = 0;
    for (auto _ : state) {
        QVector<int> members;
        for (int b = 0; b < group; ++b)
            members.append(40 + b);
        const QVector<HistorySeries> s = query.groupSeries(
            members, weekStart, weekStart + 365 * HistoryTime::day, HistoryResolution::Auto);
        points = s.first().points.size();
        if (s.first().resolution != HistoryResolution::Hour || points != 365 * 24)
            qFatal("a year by the hour read %lld points", points);
    }
    state.counters["points"] = double(points);
}
BENCHMARK(BM_BatteryYearByHour)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// A simulated week, kept for the reads below.
const QString& weekOfSweeps()
{
    static QTemporaryDir dir(scratchPattern());
    static const QString path = QDir(dir.path()).filePath("history.sqlite");
    static bool made = false;
    if (!made) {
        Plant plant;
        recordSimulated(path, weekStart, sweepMs, 7 * HistoryTime::day / sweepMs, plant);
        made = true;
    }
    return path;
}

// What a chart of the last week reads: one battery minute by minute (10,080 points).
void BM_BatteryWeekByMinute(benchmark::State& state)
{
    const QString& path = weekOfSweeps();
    const qint64 end = weekStart + 7 * HistoryTime::day;
    HistoryQuery query(path, [end] { return end; });
    qint64 points = 0;
    for (auto _ : state) {
        const HistorySeries s = query.series(40, weekStart, end, HistoryResolution::Auto);
        points = s.points.size();
        if (s.resolution != HistoryResolution::Minute)
            qFatal("a week is read minute by minute");
    }
    state.counters["points"] = double(points);
}
BENCHMARK(BM_BatteryWeekByMinute)->Unit(benchmark::kMillisecond)->UseRealTime();

const QString& dayOfSweeps()
{
    static QTemporaryDir dir(scratchPattern());
    static const QString path = QDir(dir.path()).filePath("history.sqlite");
    static bool made = false;
    if (!made) {
        Plant plant;
        recordSimulated(path, weekStart, sweepMs, HistoryTime::day / sweepMs, plant);
        made = true;
    }
    return path;
}

void BM_GroupDayBySweep(benchmark::State& state)
{
    const QString& path = dayOfSweeps();
    HistoryQuery query(path, [] { return weekStart + HistoryTime::day; });
    QVector<int> group;
    for (int b = 16; b < 32; ++b)
        group.append(b);
    const bool withMean = state.range(0) != 0;
    qint64 points = 0;
    for (auto _ : state) {
        const QVector<HistorySeries> s =
            query.groupSeries(group, weekStart, weekStart + HistoryTime::day, HistoryResolution::Raw);
        points = s.first().points.size();
        if (withMean)
            benchmark::DoNotOptimize(HistoryQuery::meanOf(s));
    }
    if (points != HistoryTime::day / sweepMs)
        qFatal("a day read %lld sweeps", points);
    state.counters["points_per_battery"] = double(points);
}
BENCHMARK(BM_GroupDayBySweep)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("and_mean")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
