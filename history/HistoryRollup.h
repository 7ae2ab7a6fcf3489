#pragma once

#include "history/HistoryAccumulator.h"

#include <optional>

class HistoryStore;

// Works the raw sweeps into minute and hour rows and deletes what has expired, a bounded
// piece at a time, so the recorder can run it between sweeps without holding one up.
//
// Only complete hours are rolled up (a few seconds' grace for sweeps still on their way).
// An hour is gathered over several steps and written in one transaction with the roll-up
// mark, so a program killed halfway simply gathers that hour again.
class HistoryRollup
{
public:
    enum class Step
    {
        Idle,   // nothing to do until more sweeps arrive or time passes
        Worked, // did a piece; there may be more
        Failed  // the store reported a fault
    };

    static constexpr qint64 grace = 10 * 1000;

    HistoryRollup(HistoryStore* store, int rowsPerStep, int deletesPerStep);

    // Reads the roll-up mark again: after (re)opening the store.
    bool reset();
    qint64 watermark() const { return m_watermark; }

    // Sweeps from `earliest` on were just written; the mark was moved back to `movedTo`
    // when that is a time. An hour being gathered that they fall into starts over.
    void noteWritten(qint64 earliest, qint64 movedTo);

    // One piece of roll-up, or of deleting expired rows when the roll-up has caught up.
    Step step(qint64 now);

    // Where a sweep at `msecs` arriving after its hour was rolled up should move the mark
    // back to, or HistoryStore::nothingRolledUp when it need not (or its hour's sweeps are
    // partly deleted already, so its figures cannot be worked out again).
    qint64 markFor(qint64 msecs, qint64 now) const;

private:
    Step rollupStep(qint64 now);
    Step expiryStep(qint64 now);

    HistoryStore* m_store;
    int m_rowsPerStep;
    int m_deletesPerStep;
    qint64 m_watermark;
    qint64 m_next = 0;
    bool m_expiryFirst = false;
    std::optional<HistoryAccumulator> m_minutes;
    std::optional<HistoryAccumulator> m_hour;
};
