// The history window over three recorded hours of one group with gaps, read from the figures behind the
// plots.
#include "../common/FileContent.h"
#include "../common/HistorySupport.h"
#include "widgets/HistoryPlot.h"
#include "widgets/HistoryWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <qwt_legend.h>
#include <qwt_scale_draw.h>

namespace {
using Run = HistoryPlotModel::Run;
const qint64 now = utc("2026-03-01T12:00:00.000"), start = now - 3 * HistoryTime::hour, sweepMs = 3000;
const qint64 minute = HistoryTime::minute;
const QVector<int> group{16, 17, 18, 19, 20, 21, 22, 23};
// Battery 20 does not answer over [gapFrom, gapTo), battery 21 misses two sweeps from blinkFrom.
const int gapped = 20, blinking = 21;
const qint64 gapFrom = now - 40 * minute, gapTo = now - 20 * minute, blinkFrom = now - 10 * minute;
// Nothing recorded for a quarter of an hour, two sweeps (bridged by a curve) and three (which break it).
const qint64 silentFrom = now - 150 * minute, silentTo = now - 135 * minute;
const qint64 bridgedFrom = now - 55 * minute + 30000, brokenFrom = now - 50 * minute + 30000;

HistoryReading reading(qint64 t, int b)
{
    const bool missing = (b == gapped && t >= gapFrom && t < gapTo) ||
                         (b == blinking && t >= blinkFrom && t < blinkFrom + 2 * sweepMs);
    return {b, 13.5 + 0.01 * double((t / sweepMs + b) % 7), 22.0 + 0.1 * double((t / sweepMs + b) % 5),
            missing};
}

bool recorded(qint64 t)
{
    const auto within = [t](qint64 from, int sweeps) { return t >= from && t < from + sweeps * sweepMs; };
    return (t < silentFrom || t >= silentTo) && !within(bridgedFrom, 2) && !within(brokenFrom, 3);
}

QString batteryLabel(int id)
{
    return QString::asprintf("Группа 3, МСД %02d : МКП %02d", id / 8, id % 8);
}

const AlarmThresholds kThresholds{5.0, 3.0, 0.9, 1.1, 0.4, 0.7};

QTemporaryDir dir;
QString historyFile;

std::unique_ptr<HistoryWindow> window(int battery = -1, const QVector<int>& members = group,
                                      const QString& file = historyFile, qint64 clock = now)
{
    auto w = std::make_unique<HistoryWindow>(
        file,
        battery < 0 ? HistoryTarget::forGroup(3, members, {})
                    : HistoryTarget::forBattery(battery, batteryLabel(battery), 3, members),
        kThresholds);
    w->setClock([clock] { return QDateTime::fromMSecsSinceEpoch(clock, Qt::UTC); });
    return w;
}
} // namespace

Q_DECLARE_METATYPE(HistorySpan)
Q_DECLARE_METATYPE(HistoryResolution)

class TestHistoryWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        historyFile = dir.filePath("history.sqlite");
        HistoryRecorder recorder(
            historyFile, [] { return now; }, quickOptions());
        QVector<HistorySweep> sweeps;
        for (qint64 t = start; t < now; t += sweepMs)
            if (recorded(t))
                sweeps.append(makeSweep(t, reading));
        QVERIFY(recordAll(recorder, sweeps));
    }
    void gapsBreakTheCurve_data()
    {
        QTest::addColumn<HistorySpan>("span");
        QTest::addColumn<int>("battery");
        QTest::addColumn<int>("batteryRuns");
        QTest::addColumn<int>("meanRuns");
        QTest::newRow("last hour, battery that stopped answering") << HistorySpan::Hour << gapped << 3 << 2;
        QTest::newRow("last day, battery that stopped answering") << HistorySpan::Day << gapped << 3 << 2;
        QTest::newRow("last hour, battery that missed two sweeps") << HistorySpan::Hour << blinking << 3 << 2;
        QTest::newRow("last day, battery that missed two sweeps") << HistorySpan::Day << blinking << 2 << 2;
    }
    void gapsBreakTheCurve()
    {
        QFETCH(HistorySpan, span);
        QFETCH(int, battery);
        QFETCH(int, batteryRuns);
        QFETCH(int, meanRuns);
        auto w = window(battery);
        w->showSpan(span);
        const HistoryPlotModel& m = w->model();
        for (const HistoryPlotModel::Plot* plot : {&m.voltage, &m.temperature}) {
            const HistoryPlotModel::Curve* own = plot->curve(batteryLabel(battery));
            const HistoryPlotModel::Curve* mean = plot->curve(HistoryWindow::groupMeanName());
            QVERIFY(own && mean && plot->curves.size() == 2);
            QCOMPARE(own->runs.size(), batteryRuns);
            QCOMPARE(mean->runs.size(), meanRuns);
            for (const Run& r : own->runs)
                for (const QPointF& p : r) {
                    const HistoryReading rd = reading(qint64(p.x()), battery);
                    QVERIFY(recorded(qint64(p.x())) &&
                            (battery != gapped || p.x() < gapFrom || p.x() >= gapTo));
                    if (m.resolution == HistoryResolution::Raw)
                        QVERIFY(!rd.missing &&
                                qAbs(p.y() - (plot == &m.voltage ? rd.voltage : rd.temperature)) < 1e-3);
                }
            if (battery == gapped) // the run before the gap ends at its last sweep, or the minute before it
                QVERIFY(own->runs[batteryRuns - 2].last().x() >= gapFrom - minute &&
                        own->runs.last().first().x() == gapTo);
        }
    }
    void groupMeanAndBands_data()
    {
        QTest::addColumn<HistorySpan>("span");
        QTest::addColumn<double>("offset"); // from the group's mean, where the plot is looked at
        QTest::addColumn<QString>("zone");
        QTest::newRow("last hour, every sweep; normal, over the mean") << HistorySpan::Hour << 0.2 << "plain";
        QTest::newRow("last hour; warning, over") << HistorySpan::Hour << 0.65 << "yellow";
        QTest::newRow("last month, by the hour; warning, under") << HistorySpan::Month << -0.9 << "yellow";
        QTest::newRow("last month; emergency, over") << HistorySpan::Month << 1.05 << "red";
    }
    void groupMeanAndBands()
    {
        QFETCH(HistorySpan, span);
        QFETCH(double, offset);
        QFETCH(QString, zone);
        auto w = window();
        w->show();
        w->showSpan(span);
        const HistoryPlotModel& m = w->model();
        // Voltage thresholds differ on each side, so a band drawn the wrong way round shows.
        const double below[] = {kThresholds.voltLowWarning, kThresholds.voltLowEmergency};
        const double above[] = {kThresholds.voltHighWarning, kThresholds.voltHighEmergency};
        const HistoryPlotModel::Curve* mean = m.voltage.curve(HistoryWindow::groupMeanName());
        QVERIFY(mean && mean->pointCount() > 0 && m.voltage.curves.size() == group.size() + 1);
        const QString names[] = {HistoryWindow::warningName(), HistoryWindow::emergencyName()};
        for (int i = 0; i < 2; ++i) {
            const HistoryPlotModel::Band* band = m.voltage.band(names[i]);
            QVERIFY(band && band->runs.size() == mean->runs.size());
            for (int k = 0; k < band->runs.size(); ++k)
                for (int j = 0; j < qMax(band->runs[k].size(), mean->runs[k].size()); ++j) {
                    const HistoryBandSample s = band->runs[k].value(j); // a missing one shows as a mismatch
                    const QPointF p = mean->runs[k].value(j);
                    QVERIFY(s.t == p.x() && qAbs(s.low - p.y() + below[i]) < 1e-9 &&
                            qAbs(s.high - p.y() - above[i]) < 1e-9);
                }
        }
        // Drawn: the normal zone plain, the warning zone yellow, beyond the emergency edges red.
        HistoryPlot* plot = w->voltagePlot();
        const QPointF at = mean->runs.last()[mean->runs.last().size() / 2];
        const QColor c = plot->canvas()->grab().toImage().pixelColor(
            qRound(plot->canvasMap(QwtPlot::xBottom).transform(at.x())),
            qRound(plot->canvasMap(QwtPlot::yLeft).transform(at.y() + offset)));
        QCOMPARE(c.blue() < c.green() - 40 ? "yellow" : c.green() < c.red() - 40 ? "red" : "plain", zone);
        const QwtScaleDraw* values = plot->axisScaleDraw(QwtPlot::yLeft);
        QVERIFY(values->label(15.5).text() == "15,5" && values->label(1000).text() == "1000");
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(now - 30 * minute);
        QCOMPARE(plot->axisScaleDraw(QwtPlot::xBottom)->label(double(t.toMSecsSinceEpoch())).text(),
                 t.toString(span == HistorySpan::Hour ? "hh:mm\ndd.MM.yyyy" : "dd.MM.yyyy"));
    }
    void fitsTheScreen()
    {
        QVector<int> all;
        for (int b = 0; b < 128; ++b)
            all << b;
        auto w = window(-1, all);
        w->show();
        const QRect free(0, 0, 1366, 728); // a 1366 x 768 screen less a panel
        QVERIFY(w->minimumSizeHint().width() <= 1000 && w->minimumSizeHint().height() <= 600);
        w->fitInto(free);
        QVERIFY(QTest::qWaitForWindowExposed(w.get()) && free.contains(w->geometry()));
        for (QWidget* c :
             QWidgetList{w->spanBar()->button(HistorySpan::Hour), w->spanBar()->button(HistorySpan::Period),
                         w->exportButton(), w->voltagePlot(), w->temperaturePlot(),
                         w->voltagePlot()->legend(), w->temperaturePlot()->legend(), w->statusLabel()})
            QVERIFY(w->rect().contains(QRect(c->mapTo(w.get(), QPoint()), c->size())));
        // The wheel zooms the time about the pointer, on both plots, and the view stays put.
        const QwtInterval before = w->temperaturePlot()->timeRange();
        QWidget* canvas = w->voltagePlot()->canvas();
        QWheelEvent wheel(QPointF(canvas->width() / 4, 10),
                          canvas->mapToGlobal(QPoint(canvas->width() / 4, 10)), QPoint(), QPoint(0, 240),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &wheel);
        const QwtInterval after = w->temperaturePlot()->timeRange();
        QVERIFY(after.width() < 0.7 * before.width() && after.minValue() > before.minValue() &&
                w->voltagePlot()->timeRange() == after && !w->spanBar()->isFollowing());
    }
    void opensOnTheSpanHoldingAll_data()
    {
        QTest::addColumn<QDateTime>("end"); // how long after the first reading the window opens
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<HistorySpan>("span");
        QTest::addColumn<HistoryResolution>("resolution");
        using R = HistoryResolution;
        const auto at = [](qint64 t) { return QDateTime::fromMSecsSinceEpoch(t, Qt::UTC); };
        const QDateTime e[] = {at(start + 10 * minute), at(now), at(start + 3 * HistoryTime::day),
                               at(start + 10 * HistoryTime::day), at(start + 730 * HistoryTime::day)};
        QTest::newRow("Час") << e[0] << e[0].addSecs(-3600) << HistorySpan::Hour << R::Raw;
        QTest::newRow("Сутки") << e[1] << e[1].addDays(-1) << HistorySpan::Day << R::Minute;
        QTest::newRow("Неделя") << e[2] << e[2].addDays(-7) << HistorySpan::Week << R::Minute;
        QTest::newRow("Месяц") << e[3] << e[3].addMonths(-1) << HistorySpan::Month << R::Hour;
        QTest::newRow("Год") << e[4] << e[4].addYears(-1) << HistorySpan::Year << R::Hour;
    }
    void opensOnTheSpanHoldingAll()
    {
        QFETCH(QDateTime, end);
        QFETCH(QDateTime, from);
        QFETCH(HistorySpan, span);
        QFETCH(HistoryResolution, resolution);
        auto w = window(17, group, historyFile, end.toMSecsSinceEpoch());
        w->show();
        const HistoryPlotModel& m = w->model();
        QVERIFY(w->spanBar()->span() == span && m.from == from.toMSecsSinceEpoch());
        // Pressed as the user would, after another span was shown.
        w->showSpan(span == HistorySpan::Hour ? HistorySpan::Year : HistorySpan::Hour);
        w->spanBar()->button(span)->click();
        QVERIFY(m.to == end.toMSecsSinceEpoch() && m.from == from.toMSecsSinceEpoch() &&
                m.resolution == resolution);
    }
    void followsNewReadings()
    {
        HistoryRecorder recorder(
            dir.filePath("новые.sqlite"), [] { return now; }, quickOptions());
        qint64 clock = now;
        auto w = window(17, group, dir.filePath("новые.sqlite"));
        w->setClock([&clock] { return QDateTime::fromMSecsSinceEpoch(clock, Qt::UTC); });
        w->show();
        // Nothing recorded yet: the last hour.
        QVERIFY(w->spanBar()->span() == HistorySpan::Hour && w->spanBar()->isFollowing() &&
                w->followTimer()->isActive() && w->model().isEmpty());
        clock = now + minute;
        QVERIFY(recordAll(recorder, {makeSweep(now + 30000, reading)}));
        w->follow();
        const HistoryPlotModel::Curve* own = w->model().voltage.curve(batteryLabel(17));
        QVERIFY(w->model().to == clock && own && own->runs.last().last().x() == double(now + 30000));
        w->spanBar()->choose(HistorySpan::Period), w->spanBar()->showButton()->click(); // stays put
        clock += minute, w->follow();
        QVERIFY(!w->spanBar()->isFollowing() && w->model().to < clock);
    }
    void csvExport()
    {
        auto w = window(gapped);
        w->showSpan(HistorySpan::Hour);
        QString answer = dir.filePath("батарея.csv"), suggested;
        QStringList reports;
        w->setFileChooser([&](QWidget*, const QString& s) { return suggested = s, answer; });
        w->setErrorReporter(
            [&](QWidget*, const QString& title, const QString& text) { reports << title << text; });
        w->exportButton()->click();
        QVERIFY(suggested.endsWith(".csv") && reports.isEmpty());
        const QStringList lines =
            QString::fromUtf8(readFile(answer).mid(3)).split("\r\n", Qt::SkipEmptyParts);
        const QString label = batteryLabel(gapped);
        QCOMPARE(lines.first().split(';'), (QStringList{"Время", label + ", В", "Среднее по группе, В",
                                                        label + ", °C", "Среднее по группе, °C"}));
        // Every recorded sweep of the hour, the battery's cells empty while it did not answer.
        int row = 0, emptyRows = 0;
        for (qint64 t = now - HistoryTime::hour; t < now; t += sweepMs) {
            if (!recorded(t))
                continue;
            QStringList cells = lines.value(++row).split(';');
            const HistoryReading r = reading(t, gapped);
            QVERIFY(cells.size() == 5 && !cells.takeAt(4).isEmpty() && !cells.takeAt(2).isEmpty());
            const QString values = QString::asprintf("%.3f;%.1f", r.voltage, r.temperature).replace('.', ',');
            QCOMPARE(cells.join(';'), QDateTime::fromMSecsSinceEpoch(t).toString("dd.MM.yyyy hh:mm:ss;") +
                                          (r.missing ? ";" : values));
            emptyRows += r.missing;
        }
        QVERIFY(row == lines.size() - 1 && emptyRows == int((gapTo - gapFrom) / sweepMs));
        answer = dir.filePath("нет папки/группа.csv"); // then a cancelled dialog
        QVERIFY(!w->exportCsv());
        QCOMPARE(reports, (QStringList{"Ошибка!", "Не удалось сохранить файл " + answer}));
        QVERIFY(!QFile::exists(answer));
        reports.clear(), answer.clear();
        QVERIFY(!w->exportCsv() && reports.isEmpty());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_history_window.moc"
