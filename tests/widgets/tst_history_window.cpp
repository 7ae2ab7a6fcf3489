// The history window over a real history file: three hours of a group of eight with one
// battery drifting upwards, one battery silent for twenty minutes and the whole line silent
// for a quarter of an hour. The tests read the figures behind the plots.
#include "../common/HistorySupport.h"
#include "widgets/HistoryPlot.h"
#include "widgets/HistoryWindow.h"

#include <QAbstractButton>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qwt_plot_curve.h>

namespace {

const qint64 now = utc("2026-03-01T12:00:00.000");
const qint64 start = now - 3 * HistoryTime::hour;
const qint64 sweepMs = 3000;
const QVector<int> group{16, 17, 18, 19, 20, 21, 22, 23};
const int drifting = 18;
const int gapped = 20;
// Battery 20 does not answer over [gapFrom, gapTo); nothing at all is recorded over
// [silentFrom, silentTo).
const qint64 gapFrom = now - 40 * HistoryTime::minute;
const qint64 gapTo = now - 20 * HistoryTime::minute;
const qint64 silentFrom = now - 150 * HistoryTime::minute;
const qint64 silentTo = now - 135 * HistoryTime::minute;
// Two whole sweeps missing leave 3 steps between readings, which a curve bridges; three
// missing (4 steps) break it.
const qint64 bridgedFrom = now - 55 * HistoryTime::minute + 30000;
const qint64 brokenFrom = now - 50 * HistoryTime::minute + 30000;
// Battery 21 misses two sweeps only.
const int blinking = 21;
const qint64 blinkFrom = now - 10 * HistoryTime::minute;

HistoryReading reading(qint64 t, int b)
{
    HistoryReading r;
    r.battery = b;
    r.voltage = 13.5 + 0.01 * double((t / sweepMs + b) % 7);
    if (b == drifting)
        r.voltage += 0.6 * double(t - start) / double(HistoryTime::hour);
    r.temperature =
        22.0 + 0.1 * double(b % 5) + (b == drifting ? 0.5 * double(t - start) / HistoryTime::hour : 0);
    r.missing = (b == gapped && t >= gapFrom && t < gapTo) ||
                (b == blinking && t >= blinkFrom && t < blinkFrom + 2 * sweepMs);
    return r;
}

bool recorded(qint64 t)
{
    const auto within = [t](qint64 from, int sweeps) { return t >= from && t < from + sweeps * sweepMs; };
    return (t < silentFrom || t >= silentTo) && !within(bridgedFrom, 2) && !within(brokenFrom, 3);
}

QString memberLabel(int id)
{
    return QStringLiteral("МСД %1 : МКП %2")
        .arg(id / 8, 2, 10, QLatin1Char('0'))
        .arg(id % 8, 2, 10, QLatin1Char('0'));
}

QString batteryLabel(int id)
{
    return QStringLiteral("Группа 3, ") + memberLabel(id);
}

AlarmThresholds thresholds()
{
    // Unequal on each side, so a band drawn the wrong way round shows.
    AlarmThresholds t;
    t.voltHighWarning = 0.4;
    t.voltLowWarning = 0.7;
    t.voltHighEmergency = 0.9;
    t.voltLowEmergency = 1.1;
    t.tempWarning = 3.0;
    t.tempEmergency = 5.0;
    return t;
}

QDateTime testNow()
{
    return QDateTime::fromMSecsSinceEpoch(now, Qt::UTC);
}

using Run = HistoryPlotModel::Run;

// The value of a run at time t, or NaN when it has no point there.
double valueAt(const HistoryPlotModel::Curve& curve, double t)
{
    for (const Run& r : curve.runs)
        for (const QPointF& p : r)
            if (p.x() == t)
                return p.y();
    return qQNaN();
}

} // namespace

Q_DECLARE_METATYPE(HistorySpan)

class TestHistoryWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_path = historyPath(m_dir.path());
        ManualClock manual;
        manual.now = now;
        HistoryRecorder recorder(m_path, manual.recorderClock(), quickOptions());
        QVector<HistorySweep> sweeps;
        for (qint64 t = start; t < now; t += sweepMs)
            if (recorded(t))
                sweeps.append(makeSweep(t, reading));
        QVERIFY(recordAll(recorder, sweeps));
        QVERIFY(recorder.waitUntilIdle(60000));
    }
    void gapsBreakTheCurve_data()
    {
        QTest::addColumn<HistorySpan>("span");
        QTest::addColumn<int>("battery");
        QTest::addColumn<int>("batteryRuns");
        QTest::addColumn<int>("meanRuns");
        QTest::newRow("last hour, battery that stopped answering") << HistorySpan::Hour << gapped << 3 << 2;
        QTest::newRow("last hour, battery that answered") << HistorySpan::Hour << 17 << 2 << 2;
        QTest::newRow("last day, battery that stopped answering") << HistorySpan::Day << gapped << 3 << 2;
        QTest::newRow("last day, battery that answered") << HistorySpan::Day << 17 << 2 << 2;
        QTest::newRow("last hour, battery that missed two sweeps") << HistorySpan::Hour << blinking << 3 << 2;
        QTest::newRow("last day, battery that missed two sweeps") << HistorySpan::Day << blinking << 2 << 2;
    }
    void gapsBreakTheCurve()
    {
        QFETCH(HistorySpan, span);
        QFETCH(int, battery);
        QFETCH(int, batteryRuns);
        QFETCH(int, meanRuns);
        auto w = batteryWindow(battery);
        w->showSpan(span);
        const HistoryPlotModel& m = w->model();
        QCOMPARE(w->windowTitle(), QStringLiteral("История: ") + batteryLabel(battery));

        for (const HistoryPlotModel::Plot* plot : {&m.voltage, &m.temperature}) {
            QCOMPARE(plot->curves.size(), 2);
            const HistoryPlotModel::Curve* own = plot->curve(batteryLabel(battery));
            const HistoryPlotModel::Curve* mean = plot->curve(HistoryWindow::groupMeanName());
            QVERIFY(own && mean);
            QCOMPARE(own->runs.size(), batteryRuns);
            QCOMPARE(mean->runs.size(), meanRuns);
            for (const HistoryPlotModel::Curve* c : {own, mean}) {
                for (const Run& r : c->runs) {
                    QVERIFY(!r.isEmpty());
                    for (const QPointF& p : r) {
                        QVERIFY2(p.y() > 10.0, qPrintable(QString("%1 at %2").arg(p.y()).arg(qint64(p.x()))));
                        QVERIFY(recorded(qint64(p.x())));
                        if (c == own && m.resolution == HistoryResolution::Raw)
                            QVERIFY(!reading(qint64(p.x()), battery).missing);
                        if (c == own && battery == gapped)
                            QVERIFY(p.x() < gapFrom || p.x() >= gapTo);
                    }
                }
            }
            if (battery == gapped) {
                // The run before the gap ends at its last sweep, or at the minute before it.
                const Run& before = own->runs[own->runs.size() - 2];
                const Run& after = own->runs.last();
                QVERIFY(before.last().x() < gapFrom);
                QVERIFY(before.last().x() >= gapFrom - HistoryTime::minute);
                QCOMPARE(qint64(after.first().x()), gapTo);
            }
        }
    }
    void groupMeanAndBands_data()
    {
        QTest::addColumn<HistorySpan>("span");
        QTest::newRow("last hour, every sweep") << HistorySpan::Hour;
        QTest::newRow("last day, by the minute") << HistorySpan::Day;
        QTest::newRow("last month, by the hour") << HistorySpan::Month;
    }
    void groupMeanAndBands()
    {
        QFETCH(HistorySpan, span);
        auto w = groupWindow();
        w->showSpan(span);
        const HistoryPlotModel& m = w->model();
        const AlarmThresholds a = thresholds();
        const struct
        {
            const HistoryPlotModel::Plot* plot;
            double warnBelow, warnAbove, emergBelow, emergAbove;
        } plots[] = {
            {&m.voltage, a.voltLowWarning, a.voltHighWarning, a.voltLowEmergency, a.voltHighEmergency},
            {&m.temperature, a.tempWarning, a.tempWarning, a.tempEmergency, a.tempEmergency}};

        for (const auto& q : plots) {
            const HistoryPlotModel::Curve* mean = q.plot->curve(HistoryWindow::groupMeanName());
            QVERIFY(mean && mean->pointCount() > 0);
            int checked = 0;
            for (const Run& r : mean->runs) {
                for (const QPointF& p : r) {
                    // The mean of the members that have a point here.
                    double sum = 0.0;
                    int n = 0;
                    for (int id : group) {
                        const double v = valueAt(*q.plot->curve(memberLabel(id)), p.x());
                        if (!qIsNaN(v)) {
                            sum += v;
                            ++n;
                        }
                    }
                    QVERIFY(n >= group.size() - 1);
                    QVERIFY2(near(p.y(), sum / n, 1e-6),
                             qPrintable(QString("%1 vs %2").arg(p.y()).arg(sum / n)));
                    if (span == HistorySpan::Hour && q.plot == &m.voltage) {
                        // Sweep by sweep, the mean follows from the readings themselves.
                        double expected = 0.0;
                        int members = 0;
                        for (int id : group) {
                            const HistoryReading rd = reading(qint64(p.x()), id);
                            if (!rd.missing) {
                                expected += std::round(rd.voltage * 1000) / 1000;
                                ++members;
                            }
                        }
                        QVERIFY(near(p.y(), expected / members, 1e-6));
                    }
                    ++checked;
                }
            }
            QCOMPARE(checked, mean->pointCount());

            const struct
            {
                QString name;
                double below, above;
            } bands[] = {{HistoryWindow::warningName(), q.warnBelow, q.warnAbove},
                         {HistoryWindow::emergencyName(), q.emergBelow, q.emergAbove}};
            for (const auto& b : bands) {
                const HistoryPlotModel::Band* band = q.plot->band(b.name);
                QVERIFY(band);
                QCOMPARE(band->runs.size(), mean->runs.size());
                int samples = 0;
                for (const HistoryPlotModel::BandRun& r : band->runs) {
                    for (const HistoryBandSample& s : r) {
                        const double mv = valueAt(*mean, s.t);
                        QVERIFY(!qIsNaN(mv));
                        QVERIFY(near(s.low, mv - b.below, 1e-9));
                        QVERIFY(near(s.high, mv + b.above, 1e-9));
                        ++samples;
                    }
                }
                QCOMPARE(samples, mean->pointCount());
            }
        }
    }
    void spanSetsResolution_data()
    {
        QTest::addColumn<HistorySpan>("span");
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<qint64>("slot");
        const QDateTime end = testNow();
        QTest::newRow("Час") << HistorySpan::Hour << end.addSecs(-3600) << int(HistoryResolution::Raw)
                             << sweepMs;
        QTest::newRow("Сутки") << HistorySpan::Day << end.addDays(-1) << int(HistoryResolution::Minute)
                               << HistoryTime::minute;
        QTest::newRow("Неделя") << HistorySpan::Week << end.addDays(-7) << int(HistoryResolution::Minute)
                                << HistoryTime::minute;
        QTest::newRow("Месяц") << HistorySpan::Month << end.addMonths(-1) << int(HistoryResolution::Hour)
                               << HistoryTime::hour;
        QTest::newRow("Год") << HistorySpan::Year << end.addYears(-1) << int(HistoryResolution::Hour)
                             << HistoryTime::hour;
    }
    void spanSetsResolution()
    {
        QFETCH(HistorySpan, span);
        QFETCH(QDateTime, from);
        QFETCH(int, resolution);
        QFETCH(qint64, slot);
        auto w = batteryWindow(17);
        // Pressed as the user would, after another span was shown.
        w->showSpan(span == HistorySpan::Hour ? HistorySpan::Year : HistorySpan::Hour);
        w->spanBar()->button(span)->click();
        const HistoryPlotModel& m = w->model();
        QCOMPARE(m.to, now);
        QCOMPARE(m.from, from.toMSecsSinceEpoch());
        QCOMPARE(int(m.resolution), resolution);

        const HistoryPlotModel::Curve* c = m.voltage.curve(batteryLabel(17));
        QVERIFY(c);
        QVector<qint64> times;
        for (const Run& r : c->runs)
            for (const QPointF& p : r)
                times.append(qint64(p.x()));
        // The recorded stretch at this slot: the points lie on slot starts, the closest one slot apart.
        QVERIFY(times.size() >= 3);
        qint64 closest = std::numeric_limits<qint64>::max();
        for (int i = 0; i < times.size(); ++i) {
            QCOMPARE(times[i] % slot, qint64(0));
            if (i > 0)
                closest = std::min(closest, times[i] - times[i - 1]);
        }
        QCOMPARE(closest, slot);
        QVERIFY(times.first() >= HistoryTime::slotStart(m.from, slot));
        QVERIFY(times.last() < now);
    }
    void groupShowsEveryMember()
    {
        auto w = groupWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("История группы 3"));
        w->showSpan(HistorySpan::Hour);
        const HistoryPlotModel& m = w->model();
        QCOMPARE(m.voltage.curves.size(), group.size() + 1);
        QCOMPARE(m.temperature.curves.size(), group.size() + 1);

        // The plot carries a titled curve for each, for its legend.
        QStringList titles;
        for (const QwtPlotItem* item : w->voltagePlot()->itemList(QwtPlotItem::Rtti_PlotCurve))
            if (item->testItemAttribute(QwtPlotItem::Legend))
                titles << item->title().text();
        QStringList expected;
        for (int id : group)
            expected << memberLabel(id);
        expected << HistoryWindow::groupMeanName();
        QCOMPARE(titles, expected);

        // The drifting battery ends far above the mean, the others close to it.
        const HistoryPlotModel::Curve* mean = m.voltage.curve(HistoryWindow::groupMeanName());
        const QPointF last = mean->runs.last().last();
        for (int id : group) {
            const double v = valueAt(*m.voltage.curve(memberLabel(id)), last.x());
            QVERIFY(!qIsNaN(v));
            if (id == drifting)
                QVERIFY2(v - last.y() > 1.2, qPrintable(QString::number(v - last.y())));
            else
                QVERIFY(std::fabs(v - last.y()) < 0.4);
        }
        QVERIFY(!w->voltagePlot()->isNoDataShown());
    }
    void periodChosenByHand()
    {
        auto w = batteryWindow(gapped);
        HistorySpanBar* bar = w->spanBar();
        bar->button(HistorySpan::Period)->click();
        QVERIFY(bar->fromEdit()->isVisibleTo(w.get()));

        // Inside the gap of the battery: the group is there, the battery is not.
        bar->fromEdit()->setDateTime(
            QDateTime::fromMSecsSinceEpoch(gapFrom + 5 * HistoryTime::minute, Qt::UTC));
        bar->toEdit()->setDateTime(
            QDateTime::fromMSecsSinceEpoch(gapFrom + 10 * HistoryTime::minute, Qt::UTC));
        bar->showButton()->click();
        QCOMPARE(w->model().from, gapFrom + 5 * HistoryTime::minute);
        QCOMPARE(w->model().to, gapFrom + 10 * HistoryTime::minute);
        QCOMPARE(int(w->model().resolution), int(HistoryResolution::Raw));
        QVERIFY(w->model().voltage.curve(batteryLabel(gapped))->runs.isEmpty());
        QCOMPARE(w->model().voltage.curve(HistoryWindow::groupMeanName())->pointCount(),
                 int(5 * HistoryTime::minute / sweepMs));
        QVERIFY(!w->model().isEmpty());
        QVERIFY(!w->voltagePlot()->isNoDataShown());

        // A day before anything was recorded.
        bar->fromEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(start - 2 * HistoryTime::day, Qt::UTC));
        bar->toEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(start - HistoryTime::day, Qt::UTC));
        bar->showButton()->click();
        QVERIFY(w->model().isEmpty());
        QVERIFY(w->voltagePlot()->isNoDataShown());
        QVERIFY(w->temperaturePlot()->isNoDataShown());
    }
    void csvExport()
    {
        auto w = batteryWindow(gapped);
        w->showSpan(HistorySpan::Hour);
        QTemporaryDir out;
        const QString file = out.filePath("батарея.csv");
        QString suggested;
        w->setFileChooser([&](QWidget*, const QString& s) {
            suggested = s;
            return file;
        });
        w->setErrorReporter([](QWidget*, const QString& title, const QString& text) {
            QFAIL(qPrintable(title + ": " + text));
        });
        w->exportButton()->click();
        QVERIFY(suggested.endsWith(".csv"));

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll().mid(3)).split("\r\n", Qt::SkipEmptyParts);
        const QString label = batteryLabel(gapped);
        QCOMPARE(lines.first().split(';'), (QStringList{"Время", label + ", В", "Среднее по группе, В",
                                                        label + ", °C", "Среднее по группе, °C"}));
        // Every recorded sweep of the hour, the battery's cells empty while it did not answer.
        QVector<qint64> times;
        for (qint64 t = now - HistoryTime::hour; t < now; t += sweepMs)
            if (recorded(t))
                times << t;
        QCOMPARE(lines.size() - 1, times.size());
        int emptyRows = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const QStringList cells = lines[i].split(';');
            QCOMPARE(cells.size(), 5);
            const qint64 t = times[i - 1];
            QCOMPARE(cells[0], QDateTime::fromMSecsSinceEpoch(t).toString("dd.MM.yyyy hh:mm:ss"));
            const HistoryReading r = reading(t, gapped);
            QCOMPARE(cells[1].isEmpty(), r.missing);
            QCOMPARE(cells[3].isEmpty(), r.missing);
            QVERIFY(!cells[2].isEmpty() && !cells[4].isEmpty());
            if (r.missing) {
                ++emptyRows;
                continue;
            }
            QCOMPARE(cells[1], QString::number(r.voltage, 'f', 3).replace('.', ','));
            QCOMPARE(cells[3], QString::number(r.temperature, 'f', 1).replace('.', ','));
        }
        QCOMPARE(emptyRows, int((gapTo - gapFrom) / sweepMs));
    }
    void csvExportFailsOrIsCancelled()
    {
        auto w = groupWindow();
        w->showSpan(HistorySpan::Hour);
        QTemporaryDir out;
        QString answer = out.filePath("нет папки/группа.csv");
        QStringList reports;
        w->setFileChooser([&](QWidget*, const QString&) { return answer; });
        w->setErrorReporter(
            [&](QWidget*, const QString& title, const QString& text) { reports << title << text; });
        QVERIFY(!w->exportCsv());
        QCOMPARE(reports, (QStringList{"Ошибка!", "Не удалось сохранить файл " + answer}));
        QVERIFY(!QFile::exists(answer));

        reports.clear();
        answer.clear(); // the dialog was cancelled
        QVERIFY(!w->exportCsv());
        QVERIFY(reports.isEmpty());
    }

private:
    std::unique_ptr<HistoryWindow> batteryWindow(int battery);
    std::unique_ptr<HistoryWindow> groupWindow();

    QTemporaryDir m_dir;
    QString m_path;
};

std::unique_ptr<HistoryWindow> TestHistoryWindow::batteryWindow(int battery)
{
    auto w = std::make_unique<HistoryWindow>(
        m_path, HistoryTarget::forBattery(battery, batteryLabel(battery), 3, group), thresholds());
    w->setClock(testNow);
    return w;
}

std::unique_ptr<HistoryWindow> TestHistoryWindow::groupWindow()
{
    QStringList labels;
    for (int id : group)
        labels << memberLabel(id);
    auto w = std::make_unique<HistoryWindow>(m_path, HistoryTarget::forGroup(3, group, labels), thresholds());
    w->setClock(testNow);
    return w;
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_history_window.moc"
