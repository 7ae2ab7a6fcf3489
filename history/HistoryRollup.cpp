#include "history/HistoryRollup.h"

#include "history/HistoryStore.h"
#include "history/HistoryTime.h"

HistoryRollup::HistoryRollup(HistoryStore* store, int rowsPerStep, int deletesPerStep)
    : m_store(store), m_rowsPerStep(rowsPerStep), m_deletesPerStep(deletesPerStep),
      m_watermark(HistoryStore::nothingRolledUp)
{
}

bool HistoryRollup::reset()
{
    m_minutes.reset();
    m_hour.reset();
    m_watermark = m_store->watermark();
    return m_store->fault() == HistoryStore::Fault::None;
}

qint64 HistoryRollup::markFor(qint64 msecs, qint64 now) const
{
    const qint64 hourStart = HistoryTime::slotStart(msecs, HistoryTime::hour);
    if (msecs >= m_watermark || hourStart < now - HistoryTime::rawKept)
        return HistoryStore::nothingRolledUp;
    return hourStart;
}

void HistoryRollup::noteWritten(qint64 earliest, qint64 movedTo)
{
    if (movedTo != HistoryStore::nothingRolledUp)
        m_watermark = qMin(m_watermark, movedTo);
    if (m_minutes && earliest < m_minutes->end()) {
        m_minutes.reset();
        m_hour.reset();
    }
}

HistoryRollup::Step HistoryRollup::step(qint64 now)
{
    // Turn about, so that neither keeps the other waiting when both have work.
    m_expiryFirst = !m_expiryFirst;
    if (m_expiryFirst) {
        const Step s = expiryStep(now);
        return s == Step::Idle ? rollupStep(now) : s;
    }
    const Step s = rollupStep(now);
    return s == Step::Idle ? expiryStep(now) : s;
}

HistoryRollup::Step HistoryRollup::rollupStep(qint64 now)
{
    if (!m_minutes) {
        qint64 first = 0;
        if (!m_store->firstRawAtOrAfter(m_watermark, &first))
            return m_store->fault() == HistoryStore::Fault::None ? Step::Idle : Step::Failed;
        const qint64 hourStart = HistoryTime::slotStart(first, HistoryTime::hour);
        if (now < hourStart + HistoryTime::hour + grace)
            return Step::Idle;
        m_minutes.emplace(hourStart, HistoryTime::minute, 60);
        m_hour.emplace(hourStart, HistoryTime::hour, 1);
        m_next = first;
    }
    QVector<HistoryFrame> frames;
    if (!m_store->readRaw(m_next, m_minutes->end(), m_rowsPerStep, &frames))
        return Step::Failed;
    for (const HistoryFrame& f : qAsConst(frames)) {
        m_minutes->add(f);
        m_hour->add(f);
    }
    if (!frames.isEmpty())
        m_next = frames.last().msecs + 1;
    if (frames.size() == m_rowsPerStep)
        return Step::Worked;

    const qint64 hourStart = m_minutes->start();
    const qint64 end = m_minutes->end();
    const QByteArray minutes = m_minutes->finish().encodePacked();
    const QByteArray hour = m_hour->finish().encodeSlot();
    m_minutes.reset();
    m_hour.reset();
    if (!m_store->writeRollup(hourStart, minutes, hour, end))
        return Step::Failed;
    m_watermark = end;
    return Step::Worked;
}

HistoryRollup::Step HistoryRollup::expiryStep(qint64 now)
{
    // Raw sweeps go once they are a week old and rolled up; minute rows once the last
    // minute they hold is a year old. Hour rows stay.
    const qint64 rawBefore = qMin(now - HistoryTime::rawKept, m_watermark);
    const int raw = m_store->deleteOldest("raw", rawBefore, m_deletesPerStep);
    if (raw < 0)
        return Step::Failed;
    if (raw > 0)
        return Step::Worked;
    const qint64 minutesBefore = now - HistoryTime::minutesKept - HistoryTime::hour + 1;
    const int minutes = m_store->deleteOldest("minute", minutesBefore, m_deletesPerStep);
    if (minutes < 0)
        return Step::Failed;
    return minutes > 0 ? Step::Worked : Step::Idle;
}
