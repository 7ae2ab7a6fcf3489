#pragma once

#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistorySweep.h"
#include "history/HistoryTime.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <cmath>
#include <functional>

inline qint64 utc(const char* text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC);
    return t.toMSecsSinceEpoch();
}

// Readings that follow from the time and the battery alone, so a reader can tell what any
// sweep held.
inline double voltageAt(qint64 msecs, int battery)
{
    return 12.0 + 0.001 * double((msecs / 3000 + battery * 7) % 1500);
}

using ReadingFor = std::function<HistoryReading(qint64 msecs, int battery)>;

inline HistoryReading usualReading(qint64 msecs, int battery)
{
    return {battery, voltageAt(msecs, battery), 20.0 + 0.1 * double((msecs / 3000 + battery) % 90), false};
}

inline HistorySweep makeSweep(qint64 msecs, const ReadingFor& reading = usualReading)
{
    HistorySweep s;
    s.msecsSinceEpoch = msecs;
    for (int b = 0; b < 128; ++b)
        s.readings.append(reading(msecs, b));
    return s;
}

// Short waits and small steps, so the roll-up and expiry run through quickly.
inline HistoryRecorder::Options quickOptions()
{
    HistoryRecorder::Options o;
    o.retryMs = 200;
    o.idleMs = 20;
    o.rollupRowsPerStep = 50;
    o.deletesPerStep = 40;
    return o;
}

// PRAGMA quick_check on a connection of the test's own.
inline QString quickCheck(const QString& path)
{
    QString verdict;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-check");
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (!db.open() || !q.exec("PRAGMA quick_check") || !q.next())
            verdict = db.lastError().text() + q.lastError().text();
        else
            verdict = q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("test-check");
    return verdict;
}

// What a battery's points at `slot` length should be, worked out from the sweeps: extremes
// and the mean (to the nearest fixed-point step) of the valid readings, as "min/mean/max mV
// min/mean/max dC" or "-" for a gap, one line per slot.
inline QStringList expectedPoints(const QVector<HistorySweep>& sweeps, int battery, qint64 slot)
{
    QMap<qint64, QVector<QVector<qint64>>> bySlot; // slot -> {mV, dC}
    for (const HistorySweep& s : sweeps) {
        auto& values = bySlot[HistoryTime::slotStart(s.msecsSinceEpoch, slot)];
        values.resize(2);
        for (const HistoryReading& r : s.readings) {
            if (r.battery == battery && !r.missing && !qIsNaN(r.voltage)) {
                values[0] << qRound64(r.voltage * 1000);
                values[1] << qRound64(r.temperature * 10);
            }
        }
    }
    QStringList lines;
    for (auto it = bySlot.cbegin(); it != bySlot.cend(); ++it) {
        QString line = QString::number(it.key());
        for (const QVector<qint64>& v : it.value()) {
            if (v.isEmpty()) {
                line += " -";
                break;
            }
            const double sum = double(std::accumulate(v.begin(), v.end(), qint64(0)));
            line += QString(" %1/%2/%3")
                        .arg(*std::min_element(v.begin(), v.end()))
                        .arg(std::llround(sum / v.size()))
                        .arg(*std::max_element(v.begin(), v.end()));
        }
        lines << line;
    }
    return lines;
}

// The points read back, in the shape of expectedPoints.
inline QStringList pointsRead(const HistorySeries& series)
{
    QStringList lines;
    for (const HistoryPoint& p : series.points) {
        const bool gap = qIsNaN(p.vMean) && qIsNaN(p.vMin) && qIsNaN(p.tMean) && qIsNaN(p.tMax);
        if (p.missing != gap)
            lines << QString::number(p.msecs) + " a gap with figures, or figures called a gap";
        else if (p.missing)
            lines << QString::number(p.msecs) + " -";
        else
            lines << QString("%1 %2/%3/%4 %5/%6/%7")
                         .arg(p.msecs)
                         .arg(qRound64(p.vMin * 1000))
                         .arg(qRound64(p.vMean * 1000))
                         .arg(qRound64(p.vMax * 1000))
                         .arg(qRound64(p.tMin * 10))
                         .arg(qRound64(p.tMean * 10))
                         .arg(qRound64(p.tMax * 10));
    }
    return lines;
}
