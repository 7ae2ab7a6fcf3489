#pragma once

#include "history/HistorySeries.h"

#include <QSqlDatabase>
#include <QString>
#include <functional>

class HistoryAccumulator;
class HistoryBlock;
struct HistoryStat;
class QSqlQuery;

// Reads the history back, on a connection of its own, on the thread that made it (the
// window's, typically). Reads never wait for the recorder: each sees the file as it was at
// its start. A file that is missing or not (yet) a history reads as empty.
//
// Minutes and hours not rolled up yet are worked out from the raw sweeps on the fly, so the
// newest stretch is there at every resolution.
class HistoryQuery
{
public:
    using Clock = std::function<qint64()>;

    // Longest spans Auto reads sweep by sweep and minute by minute.
    static constexpr qint64 rawSpan = 6 * 3600 * 1000LL;
    static constexpr qint64 minuteSpan = 7 * 24 * 3600 * 1000LL;

    explicit HistoryQuery(const QString& path, Clock clock = Clock());
    ~HistoryQuery();
    HistoryQuery(const HistoryQuery&) = delete;
    HistoryQuery& operator=(const HistoryQuery&) = delete;

    // The resolution Auto stands for over [from, to): by span, and coarser where the finer
    // rows have expired.
    HistoryResolution resolutionFor(qint64 from, qint64 to) const;

    // One battery over [from, to): sweeps with a time in it, or the minutes or hours that
    // begin in it (and the one `from` falls into).
    HistorySeries series(int battery, qint64 from, qint64 to,
                         HistoryResolution resolution = HistoryResolution::Auto);
    // Several batteries at once, at the same time points, in the order given.
    QVector<HistorySeries> groupSeries(const QVector<int>& batteries, qint64 from, qint64 to,
                                       HistoryResolution resolution = HistoryResolution::Auto);
    // The group's mean at each time point, over the members with data there; its min and
    // max are the lowest and highest member means, the group's spread. Missing where no
    // member has data.
    HistorySeries groupMean(const QVector<int>& batteries, qint64 from, qint64 to,
                            HistoryResolution resolution = HistoryResolution::Auto);
    // The same from series already read with groupSeries(), without reading them again.
    static HistorySeries meanOf(const QVector<HistorySeries>& members);

    // When the oldest row still kept was recorded (an hour's or minute's start, or a sweep),
    // -1 when there is none. Every row holds all batteries, so it serves for any of them.
    qint64 firstTime();

    // Why the last read came back empty or short; empty when it did not fail.
    QString lastError() const { return m_error; }

private:
    bool ensureOpen();
    void close();
    bool fail(const QSqlQuery& q);
    bool readRaw(const QVector<int>& batteries, qint64 from, qint64 to, QVector<HistorySeries>* out);
    bool readSlots(const QVector<int>& batteries, qint64 from, qint64 to, qint64 slot,
                   QVector<HistorySeries>* out);
    bool readStoredMinutes(const QVector<int>& batteries, qint64 from, qint64 to,
                           QVector<HistorySeries>* out);
    bool readStoredHours(const QVector<int>& batteries, qint64 from, qint64 to, QVector<HistorySeries>* out);
    bool readTail(const QVector<int>& batteries, qint64 from, qint64 to, qint64 slot,
                  QVector<HistorySeries>* out);
    static void appendBlock(const HistoryBlock& block, const QVector<int>& batteries, qint64 from, qint64 to,
                            QVector<HistorySeries>* out);
    static HistoryPoint point(qint64 msecs, const HistoryStat& stat);

    QString m_path;
    Clock m_clock;
    QString m_connection;
    QSqlDatabase m_db;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    QString m_error;
};
