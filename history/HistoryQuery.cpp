#include "history/HistoryQuery.h"

#include "history/HistoryAccumulator.h"
#include "history/HistoryBlock.h"
#include "history/HistoryStore.h"
#include "history/HistoryTime.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>
#include <limits>
#include <optional>
#include <sys/stat.h>

namespace {

QString nextConnectionName()
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("history-reader-%1").arg(counter.fetchAndAddRelaxed(1));
}

bool validBattery(int b)
{
    return b >= 0 && b < HistoryFrame::batteryCount;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

HistoryQuery::HistoryQuery(const QString& path, Clock clock)
    : m_path(path), m_clock(std::move(clock)), m_connection(nextConnectionName())
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

HistoryQuery::~HistoryQuery()
{
    close();
}

void HistoryQuery::close()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool HistoryQuery::fail(const QSqlQuery& q)
{
    m_error = q.lastError().text();
    return false;
}

bool HistoryQuery::ensureOpen()
{
    // The recorder may have set a damaged file aside and begun a new one under the same
    // name: follow the name, not the file once opened.
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0 || st.st_size == 0) {
        close();
        return false;
    }
    if (m_db.isValid() && m_db.isOpen() && quint64(st.st_dev) == m_device && quint64(st.st_ino) == m_inode)
        return true;
    close();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!m_db.open()) {
        m_error = m_db.lastError().text();
        close();
        return false;
    }
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("PRAGMA query_only=1")) ||
        !q.exec(QStringLiteral("SELECT sql FROM sqlite_master ORDER BY rowid"))) {
        fail(q);
        close();
        return false;
    }
    QStringList found;
    while (q.next())
        found.append(q.value(0).toString());
    q.finish();
    if (found != HistoryStore::schemaStatements()) {
        close();
        return false; // not a history (yet): nothing to read
    }
    m_device = quint64(st.st_dev);
    m_inode = quint64(st.st_ino);
    return true;
}

HistoryResolution HistoryQuery::resolutionFor(qint64 from, qint64 to) const
{
    const qint64 now = m_clock();
    const qint64 span = to - from;
    if (span <= rawSpan && from >= now - HistoryTime::rawKept)
        return HistoryResolution::Raw;
    if (span <= minuteSpan && from >= now - HistoryTime::minutesKept)
        return HistoryResolution::Minute;
    return HistoryResolution::Hour;
}

HistorySeries HistoryQuery::series(int battery, qint64 from, qint64 to, HistoryResolution resolution)
{
    const QVector<HistorySeries> all = groupSeries({battery}, from, to, resolution);
    return all.isEmpty() ? HistorySeries() : all.first();
}

QVector<HistorySeries> HistoryQuery::groupSeries(const QVector<int>& batteries, qint64 from, qint64 to,
                                                 HistoryResolution resolution)
{
    m_error.clear();
    if (resolution == HistoryResolution::Auto)
        resolution = resolutionFor(from, to);
    QVector<int> valid;
    for (int b : batteries) {
        if (validBattery(b))
            valid.append(b);
    }
    QVector<HistorySeries> out(valid.size());
    for (int i = 0; i < valid.size(); ++i) {
        out[i].battery = valid[i];
        out[i].resolution = resolution;
    }
    if (valid.isEmpty() || to <= from || !ensureOpen())
        return out;

    // One read transaction: the roll-up mark and the rows agree with each other.
    if (!m_db.transaction()) {
        m_error = m_db.lastError().text();
        return out;
    }
    bool ok = false;
    switch (resolution) {
    case HistoryResolution::Raw:
    case HistoryResolution::Auto:
        ok = readRaw(valid, from, to, &out);
        break;
    case HistoryResolution::Minute:
        ok = readSlots(valid, from, to, HistoryTime::minute, &out);
        break;
    case HistoryResolution::Hour:
        ok = readSlots(valid, from, to, HistoryTime::hour, &out);
        break;
    }
    m_db.commit();
    if (!ok) {
        // A half-read series would look like a gap that is not there.
        for (HistorySeries& s : out)
            s.points.clear();
    }
    return out;
}

qint64 HistoryQuery::firstTime()
{
    m_error.clear();
    if (!ensureOpen())
        return -1;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT MIN(t) FROM (SELECT MIN(t) AS t FROM raw UNION ALL "
                               "SELECT MIN(t) FROM minute UNION ALL SELECT MIN(t) FROM hour)")))
        return fail(q), -1;
    return q.next() && !q.value(0).isNull() ? q.value(0).toLongLong() : -1;
}

HistorySeries HistoryQuery::groupMean(const QVector<int>& batteries, qint64 from, qint64 to,
                                      HistoryResolution resolution)
{
    HistorySeries mean = meanOf(groupSeries(batteries, from, to, resolution));
    mean.resolution = resolution == HistoryResolution::Auto ? resolutionFor(from, to) : resolution;
    return mean;
}

HistorySeries HistoryQuery::meanOf(const QVector<HistorySeries>& members)
{
    HistorySeries mean;
    mean.battery = -1;
    if (members.isEmpty())
        return mean;
    mean.resolution = members.first().resolution;
    const int count = members.first().points.size();
    mean.points.reserve(count);
    for (int i = 0; i < count; ++i) {
        HistoryPoint p;
        p.msecs = members.first().points[i].msecs;
        double vSum = 0.0;
        double tSum = 0.0;
        int n = 0;
        for (const HistorySeries& s : members) {
            const HistoryPoint& m = s.points[i];
            if (m.missing)
                continue;
            if (n == 0) {
                p.vMin = p.vMax = m.vMean;
                p.tMin = p.tMax = m.tMean;
            }
            p.vMin = qMin(p.vMin, m.vMean);
            p.vMax = qMax(p.vMax, m.vMean);
            p.tMin = qMin(p.tMin, m.tMean);
            p.tMax = qMax(p.tMax, m.tMean);
            vSum += m.vMean;
            tSum += m.tMean;
            ++n;
        }
        if (n == 0) {
            p.vMin = p.vMean = p.vMax = p.tMin = p.tMean = p.tMax = kNaN;
        } else {
            p.missing = false;
            p.vMean = vSum / n;
            p.tMean = tSum / n;
        }
        mean.points.append(p);
    }
    return mean;
}

HistoryPoint HistoryQuery::point(qint64 msecs, const HistoryStat& stat)
{
    HistoryPoint p;
    p.msecs = msecs;
    if (!stat.present) {
        p.vMin = p.vMean = p.vMax = p.tMin = p.tMean = p.tMax = kNaN;
        return p;
    }
    p.missing = false;
    p.vMin = HistoryFrame::volts(stat.vMin);
    p.vMean = HistoryFrame::volts(stat.vMean);
    p.vMax = HistoryFrame::volts(stat.vMax);
    p.tMin = HistoryFrame::celsius(stat.tMin);
    p.tMean = HistoryFrame::celsius(stat.tMean);
    p.tMax = HistoryFrame::celsius(stat.tMax);
    return p;
}

bool HistoryQuery::readRaw(const QVector<int>& batteries, qint64 from, qint64 to, QVector<HistorySeries>* out)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, v FROM raw WHERE t >= ? AND t < ? ORDER BY t"));
    q.addBindValue(from);
    q.addBindValue(to);
    if (!q.exec())
        return fail(q);
    HistoryFrame frame;
    HistoryStat stat;
    while (q.next()) {
        const qint64 t = q.value(0).toLongLong();
        frame.decode(q.value(1).toByteArray());
        for (int i = 0; i < batteries.size(); ++i) {
            const auto b = size_t(batteries[i]);
            stat.present = frame.millivolts[b] != HistoryFrame::noVoltage;
            stat.vMin = stat.vMean = stat.vMax = frame.millivolts[b];
            stat.tMin = stat.tMean = stat.tMax = frame.decidegrees[b];
            (*out)[i].points.append(point(t, stat));
        }
    }
    return !q.lastError().isValid() || fail(q);
}

bool HistoryQuery::readSlots(const QVector<int>& batteries, qint64 from, qint64 to, qint64 slot,
                             QVector<HistorySeries>* out)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT v FROM meta WHERE k = ?"));
    q.addBindValue(QString::fromLatin1(HistoryStore::watermarkKey));
    if (!q.exec() || !q.next())
        return fail(q);
    const qint64 watermark = q.value(0).toLongLong();
    q.finish();

    const qint64 first = HistoryTime::slotStart(from, slot);
    const qint64 storedEnd = qMin(to, watermark);
    if (storedEnd > first) {
        const bool ok = slot == HistoryTime::minute ? readStoredMinutes(batteries, first, storedEnd, out)
                                                    : readStoredHours(batteries, first, storedEnd, out);
        if (!ok)
            return false;
    }
    return to <= watermark || readTail(batteries, qMax(first, watermark), to, slot, out);
}

void HistoryQuery::appendBlock(const HistoryBlock& block, const QVector<int>& batteries, qint64 from,
                               qint64 to, QVector<HistorySeries>* out)
{
    for (int s = 0; s < block.slotCount(); ++s) {
        const qint64 t = block.slotStart(s);
        if (t < from || t >= to || block.sweeps(s) == 0)
            continue;
        for (int i = 0; i < batteries.size(); ++i)
            (*out)[i].points.append(point(t, block.stat(s, batteries[i])));
    }
}

bool HistoryQuery::readStoredMinutes(const QVector<int>& batteries, qint64 from, qint64 to,
                                     QVector<HistorySeries>* out)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, v FROM minute WHERE t >= ? AND t < ? ORDER BY t"));
    q.addBindValue(HistoryTime::slotStart(from, HistoryTime::hour));
    q.addBindValue(to);
    if (!q.exec())
        return fail(q);
    HistoryBlock block;
    while (q.next()) {
        if (block.decodePacked(q.value(0).toLongLong(), HistoryTime::minute, q.value(1).toByteArray(),
                               batteries))
            appendBlock(block, batteries, from, to, out);
    }
    return !q.lastError().isValid() || fail(q);
}

bool HistoryQuery::readStoredHours(const QVector<int>& batteries, qint64 from, qint64 to,
                                   QVector<HistorySeries>* out)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, v FROM hour WHERE t >= ? AND t < ? ORDER BY t"));
    q.addBindValue(from);
    q.addBindValue(to);
    if (!q.exec())
        return fail(q);
    // One battery's figures are read out of the row alone; a group unpacks the row once.
    const bool single = batteries.size() == 1;
    HistoryBlock block;
    HistoryStat stat;
    while (q.next()) {
        const qint64 t = q.value(0).toLongLong();
        const QByteArray row = q.value(1).toByteArray();
        if (single) {
            if (HistoryBlock::slotStat(row, batteries.first(), &stat))
                (*out)[0].points.append(point(t, stat));
        } else if (block.decodeSlot(t, HistoryTime::hour, row)) {
            appendBlock(block, batteries, from, to, out);
        }
    }
    return !q.lastError().isValid() || fail(q);
}

bool HistoryQuery::readTail(const QVector<int>& batteries, qint64 from, qint64 to, qint64 slot,
                            QVector<HistorySeries>* out)
{
    // Sweeps not rolled up yet, gathered an hour at a time like the roll-up does.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, v FROM raw WHERE t >= ? AND t < ? ORDER BY t"));
    q.addBindValue(from);
    q.addBindValue(HistoryTime::slotStart(to - 1, slot) + slot);
    if (!q.exec())
        return fail(q);
    const int slotsPerHour = int(HistoryTime::hour / slot);
    std::optional<HistoryAccumulator> hour;
    HistoryFrame frame;
    while (q.next()) {
        frame.msecs = q.value(0).toLongLong();
        if (hour && frame.msecs >= hour->end()) {
            appendBlock(hour->finish(), batteries, from, to, out);
            hour.reset();
        }
        if (!hour)
            hour.emplace(HistoryTime::slotStart(frame.msecs, HistoryTime::hour), slot, slotsPerHour,
                         batteries);
        frame.decode(q.value(1).toByteArray());
        hour->add(frame);
    }
    if (hour)
        appendBlock(hour->finish(), batteries, from, to, out);
    return !q.lastError().isValid() || fail(q);
}
