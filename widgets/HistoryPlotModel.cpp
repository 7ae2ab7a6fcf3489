#include "widgets/HistoryPlotModel.h"

#include "history/HistoryTime.h"

#include <algorithm>
#include <cmath>

namespace {

// Longer silences than this many steps break a curve.
constexpr qint64 gapSteps = 3;

template <typename Sample, typename Make>
QVector<QVector<Sample>> split(const HistorySeries& series, double HistoryPoint::*value, qint64 step,
                               Make make)
{
    QVector<QVector<Sample>> runs;
    QVector<Sample> run;
    qint64 last = 0;
    for (const HistoryPoint& p : series.points) {
        const bool valid = !p.missing && std::isfinite(p.*value);
        if (!run.isEmpty() && (!valid || p.msecs - last > gapSteps * step)) {
            runs.append(run);
            run.clear();
        }
        if (valid) {
            run.append(make(p));
            last = p.msecs;
        }
    }
    if (!run.isEmpty())
        runs.append(run);
    return runs;
}

} // namespace

int HistoryPlotModel::Curve::pointCount() const
{
    int n = 0;
    for (const Run& r : runs)
        n += r.size();
    return n;
}

const HistoryPlotModel::Curve* HistoryPlotModel::Plot::curve(const QString& name) const
{
    for (const Curve& c : curves)
        if (c.name == name)
            return &c;
    return nullptr;
}

const HistoryPlotModel::Band* HistoryPlotModel::Plot::band(const QString& name) const
{
    for (const Band& b : bands)
        if (b.name == name)
            return &b;
    return nullptr;
}

bool HistoryPlotModel::Plot::hasData() const
{
    return std::any_of(curves.begin(), curves.end(), [](const Curve& c) { return !c.runs.isEmpty(); });
}

qint64 HistoryPlotModel::stepOf(const HistorySeries& series)
{
    if (series.resolution == HistoryResolution::Minute)
        return HistoryTime::minute;
    if (series.resolution == HistoryResolution::Hour)
        return HistoryTime::hour;
    QVector<qint64> spacings;
    for (int i = 1; i < series.points.size(); ++i)
        spacings.append(series.points[i].msecs - series.points[i - 1].msecs);
    if (spacings.isEmpty())
        return HistoryTime::minute;
    std::nth_element(spacings.begin(), spacings.begin() + spacings.size() / 2, spacings.end());
    return std::max<qint64>(spacings[spacings.size() / 2], HistoryTime::second);
}

QVector<HistoryPlotModel::Run> HistoryPlotModel::runsOf(const HistorySeries& series,
                                                        double HistoryPoint::*value, qint64 step)
{
    return split<QPointF>(series, value, step,
                          [value](const HistoryPoint& p) { return QPointF(double(p.msecs), p.*value); });
}

QVector<HistoryPlotModel::BandRun> HistoryPlotModel::bandOf(const HistorySeries& mean,
                                                            double HistoryPoint::*value, double below,
                                                            double above, qint64 step)
{
    return split<HistoryBandSample>(mean, value, step, [=](const HistoryPoint& p) {
        return HistoryBandSample{double(p.msecs), p.*value - below, p.*value + above};
    });
}
