#pragma once

#include "history/HistorySweep.h"

#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class HistoryRollup;
class HistoryStore;

// Records every sweep into history.sqlite on a thread of its own. The caller only hands
// over a copy (a lock and a move into a queue); the thread writes whatever has queued up in
// one transaction, and between sweeps rolls the raw sweeps up into minutes and hours and
// deletes what has expired, a little at a time.
//
// Nothing here may stop or hold up the caller: a damaged file is set aside and a new one
// begun; a disk that refuses writes stops the recording, with sweeps dropped beyond a bounded
// queue, and the writes are tried again every few seconds until they succeed.
class HistoryRecorder : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Starting,
        Recording,
        DiskFull, // writes are refused: recording stopped, retried every few seconds
        Failing   // the file cannot be opened or written for another reason; retried likewise
    };
    Q_ENUM(State)

    // Milliseconds since the epoch; decides which hours are complete and what has expired.
    using Clock = std::function<qint64()>;

    struct Options
    {
        int queueLimit = 1200; // sweeps held while the disk refuses them: an hour at 3 s
        int retryMs = 5000;
        int idleMs = 1000; // how often the roll-up looks again while no sweep arrives
        int rollupRowsPerStep = 200;
        int deletesPerStep = 500;
    };

    struct Stats
    {
        qint64 written = 0;
        qint64 dropped = 0;
        qint64 writerCpuNs = 0;   // CPU time of the writer thread so far
        qint64 longestStepNs = 0; // the longest piece of roll-up or clean-up, a sweep's longest wait
    };

    explicit HistoryRecorder(const QString& path, QObject* parent = nullptr);
    HistoryRecorder(const QString& path, Clock clock, const Options& options, QObject* parent = nullptr);
    // Writes what is queued (unless the disk refuses it) and stops the thread.
    ~HistoryRecorder() override;

    void record(const HistorySweep& sweep);
    void record(HistorySweep&& sweep);

    QString path() const { return m_path; }
    State state() const { return m_state.load(); }
    Stats stats() const;

    // For tests and measurements: wait until every sweep handed over is written (or
    // dropped), or until in addition the roll-up and clean-up have caught up with the
    // clock as it reads after the call.
    bool waitUntilWritten(int timeoutMs);
    bool waitUntilIdle(int timeoutMs);

    static QString diskFullMessage();
    static QString resumedMessage();
    static QString setAsideMessage(const QString& fileName);

signals:
    // On the thread that made the recorder. `message` is for the status bar (empty when
    // recording starts normally).
    void stateChanged(HistoryRecorder::State state, const QString& message);
    // The file at start-up was not a usable history: moved to `brokenPath`, recording begun
    // anew. Said once, on the thread that made the recorder.
    void setAside(const QString& brokenPath, const QString& message);
    // These sweeps (by time) are committed to disk. Emitted on the writer thread right after
    // the commit; connect with a queued connection unless the receiver is thread-safe.
    void sweepsCommitted(const QVector<qint64>& msecs);

private slots:
    void deliverNotes();

private:
    using SteadyClock = std::chrono::steady_clock;

    // What the writer has to tell the owner's thread, in order.
    struct Note
    {
        bool setAside = false;
        State state = State::Starting;
        QString message;
        QString brokenPath;
    };
    void post(const Note& note);

    void run();
    bool openStore(HistoryStore& store, bool* needCheck);
    void storeFailed(HistoryStore& store, bool* needCheck);
    bool writeBatch(HistoryStore& store, HistoryRollup& rollup, const std::deque<HistorySweep>& batch);
    void requeue(std::deque<HistorySweep>&& batch);
    void setState(State state, const QString& message);
    QString setAsideFile();
    void noteCpu();

    const QString m_path;
    const Clock m_clock;
    const Options m_options;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_settled;
    std::deque<HistorySweep> m_queue;
    bool m_stop = false;
    bool m_busy = false; // a batch is being written
    bool m_idle = false; // nothing queued and the roll-up has caught up
    bool m_poke = false; // look at the clock again now
    qint64 m_dropped = 0;
    QVector<Note> m_notes;

    // The writer thread's own.
    SteadyClock::time_point m_retryAt;
    bool m_failing = false; // the last write or open failed: wait for m_retryAt
    std::atomic<State> m_state{State::Starting};
    std::atomic<qint64> m_written{0};
    std::atomic<qint64> m_cpuNs{0};
    std::atomic<qint64> m_longestStepNs{0};
    std::thread m_thread;
};
