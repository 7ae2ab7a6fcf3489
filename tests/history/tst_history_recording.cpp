// Sweeps handed to the recorder read back through a query: every battery's voltage,
// temperature and missing flag, one battery or a group at a time, and the group's mean.
#include "HistoryTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// The readings of each kind of sweep the tests record.
HistoryReading readingOfKind(const QString& kind, qint64 msecs, int battery)
{
    HistoryReading r = usualReading(msecs, battery);
    const int sweep = int(msecs / 3000);
    if (kind == QLatin1String("every third missing"))
        r.missing = (battery + sweep) % 3 == 0;
    else if (kind == QLatin1String("not a number"))
        r.voltage = battery % 2 ? qQNaN() : r.voltage;
    else if (kind == QLatin1String("extremes")) {
        r.voltage = battery % 2 ? 0.0005 : 65.534;
        r.temperature = battery % 4 < 2 ? -40.04 : 120.06;
    }
    return r;
}

HistorySweep sweepOfKind(const QString& kind, qint64 msecs)
{
    HistorySweep s = makeSweep(msecs, [&](qint64 t, int b) { return readingOfKind(kind, t, b); });
    if (kind == QLatin1String("batteries absent")) {
        // Only the first half reports, in reverse order.
        s.readings.resize(64);
        std::reverse(s.readings.begin(), s.readings.end());
    }
    return s;
}

bool expectMissing(const QString& kind, qint64 msecs, int battery)
{
    if (kind == QLatin1String("batteries absent"))
        return battery >= 64;
    const HistoryReading r = readingOfKind(kind, msecs, battery);
    return r.missing || qIsNaN(r.voltage);
}

double fixedPoint(double value, double step)
{
    return std::round(value / step) * step;
}

} // namespace

class TestHistoryRecording : public QObject
{
    Q_OBJECT
private slots:
    void sweepsReadBack_data();
    void sweepsReadBack();
    void groupAndMean_data();
    void groupAndMean();
    void autoResolution_data();
    void autoResolution();
};

void TestHistoryRecording::sweepsReadBack_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("every battery reports") << "all";
    QTest::newRow("every third reading missing") << "every third missing";
    QTest::newRow("batteries absent from the sweep") << "batteries absent";
    QTest::newRow("voltage not a number") << "not a number";
    QTest::newRow("extremes of the fixed point") << "extremes";
}

void TestHistoryRecording::sweepsReadBack()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    const qint64 last = HistoryTime::slotStart(QDateTime::currentMSecsSinceEpoch(), 3000);
    const int count = 40;
    const qint64 first = last - (count - 1) * 3000;
    {
        HistoryRecorder recorder(path);
        int acknowledged = 0;
        QObject receiver; // on this thread: the sweeps reported reach it queued
        connect(&recorder, &HistoryRecorder::sweepsCommitted, &receiver,
                [&](const QVector<qint64>& times) { acknowledged += times.size(); });
        for (int i = 0; i < count; ++i)
            recorder.record(sweepOfKind(kind, first + i * 3000));
        QVERIFY(recorder.waitUntilWritten(10000));
        QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
        QTRY_COMPARE(acknowledged, count);
        QCOMPARE(recorder.stats().written, qint64(count));
    }

    HistoryQuery query(path);
    for (int battery : {0, 1, 2, 3, 63, 64, 126, 127}) {
        const HistorySeries s = query.series(battery, first, last + 1, HistoryResolution::Raw);
        QVERIFY2(query.lastError().isEmpty(), qPrintable(query.lastError()));
        QCOMPARE(s.points.size(), count);
        for (int i = 0; i < count; ++i) {
            const HistoryPoint& p = s.points[i];
            const qint64 t = first + i * 3000;
            QCOMPARE(p.msecs, t);
            const bool missing = expectMissing(kind, t, battery);
            QCOMPARE(p.missing, missing);
            if (missing) {
                QVERIFY(qIsNaN(p.vMean) && qIsNaN(p.tMean) && qIsNaN(p.vMin) && qIsNaN(p.tMax));
                continue;
            }
            const HistoryReading r = readingOfKind(kind, t, battery);
            QVERIFY2(near(p.vMean, fixedPoint(r.voltage, 0.001), 1e-9),
                     qPrintable(QString("battery %1: %2 V read, %3 V recorded")
                                    .arg(battery)
                                    .arg(p.vMean)
                                    .arg(r.voltage)));
            QVERIFY(near(p.tMean, fixedPoint(r.temperature, 0.1), 1e-9));
            QCOMPARE(p.vMin, p.vMean);
            QCOMPARE(p.vMax, p.vMean);
            QCOMPARE(p.tMin, p.tMean);
            QCOMPARE(p.tMax, p.tMean);
        }
    }
    // A stretch with no sweeps reads as no points.
    QVERIFY(query.series(5, first - 3600000, first, HistoryResolution::Raw).points.isEmpty());
}

void TestHistoryRecording::groupAndMean_data()
{
    QTest::addColumn<int>("resolution");
    QTest::addColumn<qint64>("slot");
    QTest::newRow("sweeps") << int(HistoryResolution::Raw) << qint64(3000);
    QTest::newRow("minutes") << int(HistoryResolution::Minute) << HistoryTime::minute;
    QTest::newRow("hours") << int(HistoryResolution::Hour) << HistoryTime::hour;
}

void TestHistoryRecording::groupAndMean()
{
    QFETCH(int, resolution);
    QFETCH(qint64, slot);
    // Battery 11 never reports, 12 only in the second minute, 13 only on odd sweeps.
    const auto reading = [](qint64 t, int b) {
        HistoryReading r = usualReading(t, b);
        const qint64 sweep = t / 3000;
        r.missing = b == 11 || (b == 12 && (t / 60000) % 2 == 0) || (b == 13 && sweep % 2 == 0);
        return r;
    };
    const QVector<int> group{10, 11, 12, 13};
    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    const qint64 first = HistoryTime::slotStart(QDateTime::currentMSecsSinceEpoch(), 120000) - 120000;
    const int count = 40; // two minutes
    {
        HistoryRecorder recorder(path);
        for (int i = 0; i < count; ++i)
            recorder.record(makeSweep(first + i * 3000, reading));
        QVERIFY(recorder.waitUntilWritten(10000));
    }

    // What each member's points should hold, slot by slot: the mean of its valid readings.
    QMap<qint64, QVector<QVector<double>>> valid; // slot start -> member -> voltages
    for (int i = 0; i < count; ++i) {
        const qint64 t = first + i * 3000;
        auto& members = valid[HistoryTime::slotStart(t, slot)];
        members.resize(group.size());
        for (int m = 0; m < group.size(); ++m) {
            const HistoryReading r = reading(t, group[m]);
            if (!r.missing)
                members[m].append(fixedPoint(r.voltage, 0.001));
        }
    }

    HistoryQuery query(path);
    const auto res = HistoryResolution(resolution);
    const QVector<HistorySeries> series = query.groupSeries(group, first, first + count * 3000, res);
    const HistorySeries mean = query.groupMean(group, first, first + count * 3000, res);
    QCOMPARE(series.size(), group.size());
    QCOMPARE(mean.battery, -1);
    QCOMPARE(mean.points.size(), valid.size());
    int i = 0;
    for (auto it = valid.cbegin(); it != valid.cend(); ++it, ++i) {
        double sum = 0.0;
        int members = 0;
        for (int m = 0; m < group.size(); ++m) {
            QCOMPARE(series[m].battery, group[m]);
            QCOMPARE(series[m].points.size(), valid.size());
            const HistoryPoint& p = series[m].points[i];
            QCOMPARE(p.msecs, it.key());
            const QVector<double>& v = it.value()[m];
            QCOMPARE(p.missing, v.isEmpty());
            if (v.isEmpty())
                continue;
            // The mean is kept to the nearest millivolt.
            const qint64 sumMv = std::accumulate(v.begin(), v.end(), qint64(0),
                                                 [](qint64 a, double x) { return a + qRound64(x * 1000); });
            const double expected = double(std::llround(double(sumMv) / v.size())) / 1000.0;
            QVERIFY2(near(p.vMean, expected, 1e-9),
                     qPrintable(QString("%1 vs %2").arg(p.vMean).arg(expected)));
            QVERIFY(near(p.vMin, *std::min_element(v.begin(), v.end()), 1e-9));
            QVERIFY(near(p.vMax, *std::max_element(v.begin(), v.end()), 1e-9));
            sum += expected;
            ++members;
        }
        const HistoryPoint& g = mean.points[i];
        QCOMPARE(g.msecs, it.key());
        QCOMPARE(g.missing, members == 0);
        QVERIFY(members > 0);
        QVERIFY(near(g.vMean, sum / members, 1e-9));
    }

    // A group none of whose members ever reported is a gap throughout, not zeros.
    const HistorySeries silent = query.groupMean({11}, first, first + count * 3000, res);
    QCOMPARE(silent.points.size(), valid.size());
    for (const HistoryPoint& p : silent.points)
        QVERIFY(p.missing && qIsNaN(p.vMean));
}

void TestHistoryRecording::autoResolution_data()
{
    QTest::addColumn<qint64>("age"); // of the span's start
    QTest::addColumn<qint64>("span");
    QTest::addColumn<int>("expected");
    const qint64 h = HistoryTime::hour;
    const qint64 d = HistoryTime::day;
    QTest::newRow("last hour") << h << h << int(HistoryResolution::Raw);
    QTest::newRow("last six hours") << 6 * h << 6 * h << int(HistoryResolution::Raw);
    QTest::newRow("last seven hours") << 7 * h << 7 * h << int(HistoryResolution::Minute);
    QTest::newRow("an hour eight days ago") << 8 * d << h << int(HistoryResolution::Minute);
    QTest::newRow("last week") << 7 * d << 7 * d << int(HistoryResolution::Minute);
    QTest::newRow("last month") << 30 * d << 30 * d << int(HistoryResolution::Hour);
    QTest::newRow("an hour two years ago") << 730 * d << h << int(HistoryResolution::Hour);
}

void TestHistoryRecording::autoResolution()
{
    QFETCH(qint64, age);
    QFETCH(qint64, span);
    QFETCH(int, expected);
    const qint64 now = utc("2026-03-01T12:00:00.000");
    HistoryQuery query(QStringLiteral("/nonexistent/history.sqlite"), [now] { return now; });
    QCOMPARE(int(query.resolutionFor(now - age, now - age + span)), expected);
    // The series says which it read at.
    QCOMPARE(int(query.series(0, now - age, now - age + span).resolution), expected);
}

QTEST_GUILESS_MAIN(TestHistoryRecording)
#include "tst_history_recording.moc"
