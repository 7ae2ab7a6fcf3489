#pragma once

#include <QMetaType>
#include <QVector>
#include <QtGlobal>

// One battery's reading in a sweep. While `missing` is set the values mean nothing.
struct HistoryReading
{
    int battery = 0;          // 0..127
    double voltage = 0.0;     // volts
    double temperature = 0.0; // degrees Celsius
    bool missing = false;
};

// Everything one sweep of the line brought, stamped with the time it was taken.
// Batteries absent from `readings` count as missing.
struct HistorySweep
{
    qint64 msecsSinceEpoch = 0;
    QVector<HistoryReading> readings;
};

Q_DECLARE_METATYPE(HistorySweep)
