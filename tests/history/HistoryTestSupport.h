#pragma once

#include "history/HistoryQuery.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistorySweep.h"
#include "history/HistoryTime.h"

#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <cmath>
#include <functional>

// A clock the test sets by hand, read by the recorder's thread.
struct ManualClock
{
    std::atomic<qint64> now{0};
    HistoryRecorder::Clock recorderClock()
    {
        return [this] { return now.load(); };
    }
};

// Options that make a test quick: short waits, small steps.
inline HistoryRecorder::Options quickOptions()
{
    HistoryRecorder::Options o;
    o.retryMs = 200;
    o.idleMs = 20;
    o.rollupRowsPerStep = 50;
    o.deletesPerStep = 40;
    return o;
}

inline qint64 utc(const char* text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    t.setTimeSpec(Qt::UTC);
    return t.toMSecsSinceEpoch();
}

// Readings that follow from the time and the battery alone, so a reader can tell what
// any sweep held.
inline double voltageAt(qint64 msecs, int battery)
{
    return 12.0 + 0.001 * double((msecs / 3000 + battery * 7) % 1500);
}

inline double temperatureAt(qint64 msecs, int battery)
{
    return 20.0 + 0.1 * double((msecs / 3000 + battery) % 90);
}

using ReadingFor = std::function<HistoryReading(qint64 msecs, int battery)>;

inline HistoryReading usualReading(qint64 msecs, int battery)
{
    return {battery, voltageAt(msecs, battery), temperatureAt(msecs, battery), false};
}

inline HistorySweep makeSweep(qint64 msecs, const ReadingFor& reading = usualReading)
{
    HistorySweep s;
    s.msecsSinceEpoch = msecs;
    s.readings.reserve(128);
    for (int b = 0; b < 128; ++b)
        s.readings.append(reading(msecs, b));
    return s;
}

inline QString historyPath(const QString& dir)
{
    return QDir(dir).filePath(QStringLiteral("history.sqlite"));
}

// PRAGMA quick_check on a connection of the test's own.
inline QString quickCheck(const QString& path)
{
    QString verdict;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-check"));
        db.setDatabaseName(path);
        if (!db.open())
            return db.lastError().text();
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next())
            verdict = q.lastError().text();
        else
            verdict = q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-check"));
    return verdict;
}

inline bool near(double a, double b, double tolerance)
{
    return std::fabs(a - b) <= tolerance;
}

// Hands the sweeps over in bursts the recorder's queue holds (beyond it the oldest drop).
template <typename Sweeps>
bool recordAll(HistoryRecorder& recorder, const Sweeps& sweeps, int timeoutMs = 30000)
{
    int n = 0;
    for (const HistorySweep& s : sweeps) {
        recorder.record(s);
        if (++n % 500 == 0 && !recorder.waitUntilWritten(timeoutMs))
            return false;
    }
    return recorder.waitUntilWritten(timeoutMs);
}
