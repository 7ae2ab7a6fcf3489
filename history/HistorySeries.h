#pragma once

#include <QVector>
#include <QtGlobal>

// How finely a stretch of history is read: every sweep, minutes, or hours. Auto picks one
// from the span asked for and from what is still kept for that age.
enum class HistoryResolution
{
    Auto,
    Raw,
    Minute,
    Hour
};

// One point of a battery's history. For a sweep, min, mean and max are the reading itself;
// for a minute or an hour they are over the valid readings in it, and `msecs` is where the
// minute or hour begins. A missing point has NaN figures: a gap, never a zero.
struct HistoryPoint
{
    qint64 msecs = 0;
    double vMin = 0.0;
    double vMean = 0.0;
    double vMax = 0.0;
    double tMin = 0.0;
    double tMean = 0.0;
    double tMax = 0.0;
    bool missing = true;
};

// The points of one battery (or of a group's mean: battery -1), oldest first.
struct HistorySeries
{
    int battery = -1;
    HistoryResolution resolution = HistoryResolution::Auto;
    QVector<HistoryPoint> points;
};
