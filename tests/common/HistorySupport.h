#pragma once

#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistorySweep.h"
#include "history/HistoryTime.h"
#include <QDateTime>
#include <QDir>
#include <QVector>
#include <atomic>
#include <functional>

// A UTC time from ISO text, with or without its "Z".
inline qint64 utc(const char* text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC); // without "Z" it was read as local time
    return t.toMSecsSinceEpoch();
}

// Readings that follow from the time and the battery alone, so any sweep can be told.
inline double voltageAt(qint64 msecs, int battery)
{
    return 12.0 + 0.001 * double((msecs / 3000 + battery * 7) % 1500);
}
inline HistoryReading usualReading(qint64 msecs, int battery)
{
    return {battery, voltageAt(msecs, battery), 20.0 + 0.1 * double((msecs / 3000 + battery) % 90), false};
}

inline HistorySweep makeSweep(qint64 msecs,
                              const std::function<HistoryReading(qint64, int)>& reading = usualReading)
{
    HistorySweep s{msecs, {}};
    for (int b = 0; b < 128; ++b)
        s.readings.append(reading(msecs, b));
    return s;
}

// Short waits and small steps: the roll-up and expiry run through quickly.
inline HistoryRecorder::Options quickOptions()
{
    HistoryRecorder::Options o;
    o.retryMs = 200, o.idleMs = 20, o.rollupRowsPerStep = 50, o.deletesPerStep = 40;
    return o;
}

// Hands the sweeps over in bursts the recorder's queue holds, then waits for the roll-up.
inline bool recordAll(HistoryRecorder& recorder, const QVector<HistorySweep>& sweeps)
{
    for (int i = 0; i < sweeps.size(); ++i)
        if (recorder.record(sweeps[i]), i % 500 == 499 && !recorder.waitUntilWritten(30000))
            return false;
    return recorder.waitUntilWritten(30000) && recorder.waitUntilIdle(30000);
}
