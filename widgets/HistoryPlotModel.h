#pragma once

#include "history/HistorySeries.h"

#include <QColor>
#include <QPointF>
#include <QString>
#include <QVector>

// The figures behind the history plots, so they can be checked without looking at pixels.
// Times are milliseconds since the epoch (as double, exact at these magnitudes). A curve is
// a list of runs: unbroken stretches of data, never joined across a gap.
struct HistoryBandSample
{
    double t = 0.0;
    double low = 0.0;
    double high = 0.0;
};

struct HistoryPlotModel
{
    using Run = QVector<QPointF>;
    using BandRun = QVector<HistoryBandSample>;

    struct Curve
    {
        QString name;
        int battery = -1; // -1: the group's mean
        QColor color;
        int width = 1;
        QVector<Run> runs;
        int pointCount() const;
    };

    struct Band
    {
        QString name;
        QColor color;
        QVector<BandRun> runs;
    };

    struct Plot
    {
        QVector<Curve> curves;
        QVector<Band> bands; // zones beyond their edges, drawn in this order, under the curves
        const Curve* curve(const QString& name) const;
        const Band* band(const QString& name) const;
        bool hasData() const;
    };

    qint64 from = 0;
    qint64 to = 0;
    HistoryResolution resolution = HistoryResolution::Auto;
    Plot voltage;
    Plot temperature;

    bool isEmpty() const { return !voltage.hasData() && !temperature.hasData(); }

    // The spacing points normally have: a minute or an hour, or for sweeps the usual
    // interval between them.
    static qint64 stepOf(const HistorySeries& series);
    // The runs of a series' valid points; a missing point, or a silence longer than a few
    // steps (the program was not running), ends a run.
    static QVector<Run> runsOf(const HistorySeries& series, double HistoryPoint::*value, qint64 step);
    // A band from `below` under to `above` over the series (the group's mean), with the
    // same breaks.
    static QVector<BandRun> bandOf(const HistorySeries& mean, double HistoryPoint::*value, double below,
                                   double above, qint64 step);
};
