// Minutes and hours worked out of the sweeps: exact slot boundaries, min/mean/max over the
// valid readings only, gaps kept as gaps at every resolution, the same figures whether an
// hour is rolled up already or worked out on the fly, and rows expiring on time.
#include "HistoryTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Expected
{
    bool missing = true;
    qint64 minMv = 0;
    qint64 meanMv = 0;
    qint64 maxMv = 0;
    qint64 minDc = 0;
    qint64 meanDc = 0;
    qint64 maxDc = 0;
};

// What a battery's points at `slot` length should be, worked out here from the readings:
// extremes and the mean (to the nearest fixed-point step) over valid readings only.
QMap<qint64, Expected> expectedPoints(const QVector<HistorySweep>& sweeps, int battery, qint64 slot)
{
    struct Sums
    {
        QVector<qint64> mv;
        QVector<qint64> dc;
    };
    QMap<qint64, Sums> bySlot;
    for (const HistorySweep& s : sweeps) {
        Sums& sums = bySlot[HistoryTime::slotStart(s.msecsSinceEpoch, slot)];
        for (const HistoryReading& r : s.readings) {
            if (r.battery != battery || r.missing)
                continue;
            sums.mv.append(qRound64(r.voltage * 1000));
            sums.dc.append(qRound64(r.temperature * 10));
        }
    }
    QMap<qint64, Expected> out;
    for (auto it = bySlot.cbegin(); it != bySlot.cend(); ++it) {
        Expected e;
        const Sums& s = it.value();
        if (!s.mv.isEmpty()) {
            e.missing = false;
            e.minMv = *std::min_element(s.mv.begin(), s.mv.end());
            e.maxMv = *std::max_element(s.mv.begin(), s.mv.end());
            e.meanMv =
                std::llround(double(std::accumulate(s.mv.begin(), s.mv.end(), qint64(0))) / s.mv.size());
            e.minDc = *std::min_element(s.dc.begin(), s.dc.end());
            e.maxDc = *std::max_element(s.dc.begin(), s.dc.end());
            e.meanDc =
                std::llround(double(std::accumulate(s.dc.begin(), s.dc.end(), qint64(0))) / s.dc.size());
        }
        out.insert(it.key(), e);
    }
    return out;
}

// Empty when the points are what the readings say; otherwise what differs.
QString compare(const HistorySeries& series, const QMap<qint64, Expected>& expected)
{
    if (series.points.size() != expected.size())
        return QString("%1 points, %2 expected").arg(series.points.size()).arg(expected.size());
    int i = 0;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it, ++i) {
        const HistoryPoint& p = series.points[i];
        const Expected& e = it.value();
        const QString where = QDateTime::fromMSecsSinceEpoch(it.key(), Qt::UTC).toString(Qt::ISODateWithMs);
        if (p.msecs != it.key())
            return QString("point %1 at %2, expected at %3").arg(i).arg(p.msecs).arg(it.key());
        if (p.missing != e.missing)
            return QString("%1: missing %2, expected %3").arg(where).arg(p.missing).arg(e.missing);
        if (e.missing) {
            if (!qIsNaN(p.vMin) || !qIsNaN(p.vMean) || !qIsNaN(p.vMax) || !qIsNaN(p.tMin) ||
                !qIsNaN(p.tMean) || !qIsNaN(p.tMax))
                return QString("%1: a gap with figures in it (%2 V)").arg(where).arg(p.vMean);
            continue;
        }
        const auto mv = [](double v) { return qRound64(v * 1000); };
        const auto dc = [](double t) { return qRound64(t * 10); };
        if (mv(p.vMin) != e.minMv || mv(p.vMean) != e.meanMv || mv(p.vMax) != e.maxMv)
            return QString("%1: %2/%3/%4 mV, expected %5/%6/%7")
                .arg(where)
                .arg(mv(p.vMin))
                .arg(mv(p.vMean))
                .arg(mv(p.vMax))
                .arg(e.minMv)
                .arg(e.meanMv)
                .arg(e.maxMv);
        if (dc(p.tMin) != e.minDc || dc(p.tMean) != e.meanDc || dc(p.tMax) != e.maxDc)
            return QString("%1: %2/%3/%4 dC, expected %5/%6/%7")
                .arg(where)
                .arg(dc(p.tMin))
                .arg(dc(p.tMean))
                .arg(dc(p.tMax))
                .arg(e.minDc)
                .arg(e.meanDc)
                .arg(e.maxDc);
    }
    return QString();
}

HistoryReading fixedReading(int battery, double volts, double celsius, bool missing = false)
{
    return {battery, volts, celsius, missing};
}

} // namespace

class TestHistoryRollup : public QObject
{
    Q_OBJECT
private slots:
    void boundaries_data();
    void boundaries();
    void gapsAtEveryResolution_data();
    void gapsAtEveryResolution();
    void expiry_data();
    void expiry();
};

void TestHistoryRollup::boundaries_data()
{
    QTest::addColumn<qint64>("now");
    QTest::newRow("no hour complete yet") << utc("2026-02-10T23:59:59.999");
    QTest::newRow("first hour rolled up") << utc("2026-02-11T00:30:00.000");
    QTest::newRow("both hours rolled up") << utc("2026-02-11T02:00:00.000");
}

void TestHistoryRollup::boundaries()
{
    QFETCH(qint64, now);
    // Battery 0 reads a different voltage in each sweep; battery 1 is missing until midnight.
    const QVector<std::pair<const char*, double>> plan{
        {"2026-02-10T23:59:00.000", 11.0}, {"2026-02-10T23:59:59.999", 12.0},
        {"2026-02-11T00:00:00.000", 13.0}, {"2026-02-11T00:00:59.999", 13.4},
        {"2026-02-11T00:01:00.000", 14.0},
    };
    QVector<HistorySweep> sweeps;
    for (const auto& [time, volts] : plan) {
        HistorySweep s;
        s.msecsSinceEpoch = utc(time);
        s.readings = {fixedReading(0, volts, volts * 2),
                      fixedReading(1, 2.0, 25.0, s.msecsSinceEpoch < utc(plan[2].first))};
        sweeps.append(s);
    }

    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    ManualClock clock;
    clock.now = now;
    HistoryRecorder recorder(path, clock.recorderClock(), quickOptions());
    for (const HistorySweep& s : sweeps)
        recorder.record(s);
    QVERIFY(recorder.waitUntilWritten(10000));
    QVERIFY(recorder.waitUntilIdle(10000));

    HistoryQuery query(path);
    const qint64 from = utc("2026-02-10T23:00:00.000");
    const qint64 to = utc("2026-02-11T01:00:00.000");
    for (int battery : {0, 1}) {
        for (qint64 slot : {HistoryTime::minute, HistoryTime::hour}) {
            const auto res =
                slot == HistoryTime::minute ? HistoryResolution::Minute : HistoryResolution::Hour;
            const QString why =
                compare(query.series(battery, from, to, res), expectedPoints(sweeps, battery, slot));
            QVERIFY2(
                why.isEmpty(),
                qPrintable(QString("battery %1, %2 s slots: %3").arg(battery).arg(slot / 1000).arg(why)));
        }
    }
    // Spelled out, for the midnight boundary itself.
    const HistorySeries minutes = query.series(0, from, to, HistoryResolution::Minute);
    QCOMPARE(minutes.points.size(), 3);
    QCOMPARE(minutes.points[0].msecs, utc("2026-02-10T23:59:00.000"));
    QCOMPARE(minutes.points[0].vMax, 12.0);
    QCOMPARE(minutes.points[1].msecs, utc("2026-02-11T00:00:00.000"));
    QCOMPARE(minutes.points[1].vMin, 13.0);
    const HistorySeries hours = query.series(1, from, to, HistoryResolution::Hour);
    QCOMPARE(hours.points.size(), 2);
    QVERIFY(hours.points[0].missing);
    QVERIFY(!hours.points[1].missing);

    // Raw spans are half-open too.
    const HistorySeries raw = query.series(0, utc("2026-02-11T00:00:00.000"), utc("2026-02-11T00:01:00.000"),
                                           HistoryResolution::Raw);
    QCOMPARE(raw.points.size(), 2);
    QCOMPARE(raw.points[0].vMean, 13.0);
    QCOMPARE(raw.points[1].vMean, 13.4);
}

void TestHistoryRollup::gapsAtEveryResolution_data()
{
    QTest::addColumn<bool>("rolledUp");
    QTest::newRow("rolled up") << true;
    QTest::newRow("worked out from the sweeps") << false;
}

void TestHistoryRollup::gapsAtEveryResolution()
{
    QFETCH(bool, rolledUp);
    const qint64 start = utc("2026-05-20T09:00:00.000");
    const qint64 end = start + 3 * HistoryTime::hour;
    // 2 is silent in the middle hour, 3 in minute 10 of every hour, 4 every other sweep,
    // 5 always; 6 reads a falling voltage with noise-like steps.
    const auto reading = [start](qint64 t, int b) {
        HistoryReading r = usualReading(t, b);
        const qint64 sinceStart = t - start;
        const qint64 sweep = sinceStart / 3000;
        r.missing = (b == 2 && sinceStart / HistoryTime::hour == 1) ||
                    (b == 3 && (sinceStart / HistoryTime::minute) % 60 == 10) || (b == 4 && sweep % 2 == 1) ||
                    b == 5;
        if (b == 6)
            r.voltage = 13.8 - 0.0001 * double(sweep) + 0.003 * double((sweep * 7919) % 11);
        return r;
    };
    QVector<HistorySweep> sweeps;
    for (qint64 t = start; t < end; t += 3000)
        sweeps.append(makeSweep(t, reading));

    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    ManualClock clock;
    clock.now = rolledUp ? end + HistoryTime::hour : start;
    HistoryRecorder recorder(path, clock.recorderClock(), quickOptions());
    QVERIFY(recordAll(recorder, sweeps));
    QVERIFY(recorder.waitUntilIdle(30000));

    HistoryQuery query(path);
    for (int battery : {1, 2, 3, 4, 5, 6}) {
        for (qint64 slot : {qint64(3000), HistoryTime::minute, HistoryTime::hour}) {
            const auto res = slot == 3000                  ? HistoryResolution::Raw
                             : slot == HistoryTime::minute ? HistoryResolution::Minute
                                                           : HistoryResolution::Hour;
            const QString why =
                compare(query.series(battery, start, end, res), expectedPoints(sweeps, battery, slot));
            QVERIFY2(
                why.isEmpty(),
                qPrintable(QString("battery %1, %2 s slots: %3").arg(battery).arg(slot / 1000).arg(why)));
        }
    }
    // A group read takes the other path through the hour rows; it must agree.
    const QVector<HistorySeries> group = query.groupSeries({2, 3, 5}, start, end, HistoryResolution::Hour);
    QCOMPARE(group.size(), 3);
    for (const HistorySeries& s : group) {
        const QString why = compare(s, expectedPoints(sweeps, s.battery, HistoryTime::hour));
        QVERIFY2(why.isEmpty(), qPrintable(QString("battery %1 in a group: %2").arg(s.battery).arg(why)));
    }
}

void TestHistoryRollup::expiry_data()
{
    QTest::addColumn<qint64>("later"); // after the first sweep
    // Whether the recorder saw the hours complete while it ran, or the program was closed
    // straight after the sweeps and started again only `later` (nothing rolled up till then).
    QTest::addColumn<bool>("stepByStep");
    const qint64 d = HistoryTime::day;
    const qint64 h = HistoryTime::hour;
    QTest::newRow("six days on") << 6 * d << true;
    QTest::newRow("a week and half an hour on") << 7 * d + h / 2 << true;
    QTest::newRow("a week and three hours on") << 7 * d + 3 * h << true;
    QTest::newRow("364 days on") << 364 * d << true;
    QTest::newRow("a year and an hour and a half on") << 365 * d + 3 * h / 2 << true;
    QTest::newRow("a year and three hours on") << 365 * d + 3 * h << true;
    QTest::newRow("started again a year and three hours on") << 365 * d + 3 * h << false;
    QTest::newRow("started again a week and three hours on") << 7 * d + 3 * h << false;
}

void TestHistoryRollup::expiry()
{
    QFETCH(qint64, later);
    QFETCH(bool, stepByStep);
    const qint64 start = utc("2026-07-01T10:00:00.000");
    const qint64 end = start + 2 * HistoryTime::hour;
    const qint64 spacing = 10000;

    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    ManualClock clock;
    clock.now = stepByStep ? end + HistoryTime::minute : start;
    auto recorder = std::make_unique<HistoryRecorder>(path, clock.recorderClock(), quickOptions());
    for (qint64 t = start; t < end; t += spacing)
        recorder->record(makeSweep(t));
    QVERIFY(recorder->waitUntilWritten(30000));
    QVERIFY(recorder->waitUntilIdle(30000));
    if (!stepByStep)
        recorder = std::make_unique<HistoryRecorder>(path, clock.recorderClock(), quickOptions());
    clock.now = start + later;
    QVERIFY(recorder->waitUntilIdle(30000));

    const qint64 now = clock.now;
    int rawKept = 0;
    int minutesKept = 0;
    for (qint64 t = start; t < end; t += spacing)
        rawKept += t >= now - HistoryTime::rawKept ? 1 : 0;
    for (qint64 m = start; m < end; m += HistoryTime::minute) {
        const qint64 hourEnd = HistoryTime::slotStart(m, HistoryTime::hour) + HistoryTime::hour;
        minutesKept += hourEnd > now - HistoryTime::minutesKept ? 1 : 0;
    }

    HistoryQuery query(path);
    QCOMPARE(query.series(7, start, end, HistoryResolution::Raw).points.size(), rawKept);
    QCOMPARE(query.series(7, start, end, HistoryResolution::Minute).points.size(), minutesKept);
    const HistorySeries hours = query.series(7, start, end, HistoryResolution::Hour);
    QCOMPARE(hours.points.size(), 2); // kept for good
    for (const HistoryPoint& p : hours.points)
        QVERIFY(!p.missing && p.vMean > 11.9);
    // What is left of the sweeps still agrees with the hour it belongs to.
    if (rawKept > 0) {
        const HistorySeries raw = query.series(7, start, end, HistoryResolution::Raw);
        QVERIFY(raw.points.first().msecs >= now - HistoryTime::rawKept);
    }
}

QTEST_GUILESS_MAIN(TestHistoryRollup)
#include "tst_history_rollup.moc"
