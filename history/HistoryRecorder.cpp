#include "history/HistoryRecorder.h"

#include "history/HistoryFrame.h"
#include "history/HistoryRollup.h"
#include "history/HistoryStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <time.h>

namespace {

qint64 systemClock()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

HistoryRecorder::HistoryRecorder(const QString& path, QObject* parent)
    : HistoryRecorder(path, systemClock, Options(), parent)
{
}

HistoryRecorder::HistoryRecorder(const QString& path, Clock clock, const Options& options, QObject* parent)
    : QObject(parent), m_path(path), m_clock(clock ? std::move(clock) : Clock(systemClock)),
      m_options(options)
{
    qRegisterMetaType<HistoryRecorder::State>("HistoryRecorder::State");
    qRegisterMetaType<QVector<qint64>>("QVector<qint64>");
    m_thread = std::thread([this] { run(); });
}

HistoryRecorder::~HistoryRecorder()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

QString HistoryRecorder::diskFullMessage()
{
    return QStringLiteral("Нет места на диске: история не записывается");
}

QString HistoryRecorder::resumedMessage()
{
    return QStringLiteral("Запись истории возобновлена");
}

QString HistoryRecorder::setAsideMessage(const QString& fileName)
{
    return QStringLiteral("История повреждена и отложена в %1; запись начата заново").arg(fileName);
}

void HistoryRecorder::record(const HistorySweep& sweep)
{
    record(HistorySweep(sweep));
}

void HistoryRecorder::record(HistorySweep&& sweep)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(sweep));
        // The oldest go first: a disk that stays full must not eat the memory.
        while (int(m_queue.size()) > m_options.queueLimit) {
            m_queue.pop_front();
            ++m_dropped;
        }
        m_idle = false;
    }
    m_wake.notify_one();
}

HistoryRecorder::Stats HistoryRecorder::stats() const
{
    Stats s;
    s.written = m_written.load();
    s.writerCpuNs = m_cpuNs.load();
    s.longestStepNs = m_longestStepNs.load();
    std::lock_guard<std::mutex> lock(m_mutex);
    s.dropped = m_dropped;
    return s;
}

bool HistoryRecorder::waitUntilWritten(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_settled.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_queue.empty() && !m_busy; });
}

bool HistoryRecorder::waitUntilIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle = false;
    m_poke = true;
    m_wake.notify_one();
    return m_settled.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_queue.empty() && !m_busy && m_idle; });
}

void HistoryRecorder::setState(State state, const QString& message)
{
    if (m_state.exchange(state) != state)
        post({false, state, message, QString()});
}

void HistoryRecorder::post(const Note& note)
{
    // Delivered on the thread that owns the recorder, once its event loop runs: whoever
    // connects right after making the recorder hears it.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notes.append(note);
    }
    QMetaObject::invokeMethod(this, "deliverNotes", Qt::QueuedConnection);
}

void HistoryRecorder::deliverNotes()
{
    QVector<Note> notes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        notes.swap(m_notes);
    }
    for (const Note& note : qAsConst(notes)) {
        if (note.setAside)
            emit setAside(note.brokenPath, note.message);
        else
            emit stateChanged(note.state, note.message);
    }
}

void HistoryRecorder::noteCpu()
{
    timespec ts{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
        m_cpuNs.store(qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec);
}

void HistoryRecorder::run()
{
    HistoryStore store(m_path);
    HistoryRollup rollup(&store, m_options.rollupRowsPerStep, m_options.deletesPerStep);
    bool needCheck = true; // a full check of the file at start-up and after damage shows
    bool rollupPending = true;
    m_retryAt = SteadyClock::now();

    for (;;) {
        std::deque<HistorySweep> batch;
        bool stopping = false;
        bool retryDue = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            const auto canWrite = [&] { return !m_failing || SteadyClock::now() >= m_retryAt; };
            const auto ready = [&] {
                return m_stop || m_poke || ((!m_queue.empty() || !store.isOpen()) && canWrite());
            };
            if (!ready()) {
                const auto now = SteadyClock::now();
                SteadyClock::time_point until = now + std::chrono::milliseconds(m_options.idleMs);
                if (m_failing && now < m_retryAt)
                    until = m_retryAt;
                else if (!m_failing && rollupPending)
                    until = now;
                m_idle = !m_failing && !rollupPending && m_queue.empty();
                if (m_idle)
                    m_settled.notify_all();
                if (!m_wake.wait_until(lock, until, ready) && !m_failing)
                    rollupPending = true; // time passed: hours may have completed
            }
            if (m_poke && !m_failing)
                rollupPending = true;
            m_poke = false;
            stopping = m_stop;
            retryDue = canWrite();
            if (retryDue)
                batch.swap(m_queue);
            m_busy = !batch.empty();
            if (stopping && !retryDue) {
                m_dropped += qint64(m_queue.size());
                m_queue.clear();
            }
        }

        if (retryDue && !store.isOpen() && openStore(store, &needCheck)) {
            if (rollup.reset())
                rollupPending = true;
            else
                storeFailed(store, &needCheck);
        }
        if (!batch.empty()) {
            const bool written = store.isOpen() && writeBatch(store, rollup, batch);
            if (!written) {
                if (store.isOpen())
                    storeFailed(store, &needCheck);
                if (!stopping)
                    requeue(std::move(batch));
            }
            noteCpu();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!written)
                    m_dropped += qint64(batch.size()); // empty unless stopping
                m_busy = false;
            }
            m_settled.notify_all();
            rollupPending = true;
        }
        if (stopping) {
            if (batch.empty())
                break;
            continue; // whatever came during the write
        }
        // One piece of roll-up or clean-up after each write (and whenever idle): a sweep
        // waits for one piece at most, and however fast sweeps come the roll-up keeps pace.
        if (!m_failing && store.isOpen() && rollupPending) {
            const auto begin = SteadyClock::now();
            const HistoryRollup::Step step = rollup.step(m_clock());
            const qint64 took = std::chrono::nanoseconds(SteadyClock::now() - begin).count();
            if (took > m_longestStepNs.load())
                m_longestStepNs.store(took);
            if (step == HistoryRollup::Step::Failed)
                storeFailed(store, &needCheck);
            rollupPending = step == HistoryRollup::Step::Worked;
            noteCpu();
        }
    }
    store.close();
}

bool HistoryRecorder::openStore(HistoryStore& store, bool* needCheck)
{
    bool ok = store.open(*needCheck);
    if (!ok && store.fault() == HistoryStore::Fault::Broken) {
        const QString aside = setAsideFile();
        if (!aside.isEmpty()) {
            post({true, State::Starting, setAsideMessage(QFileInfo(aside).fileName()), aside});
            ok = store.open(false);
        }
    }
    if (!ok) {
        storeFailed(store, needCheck);
        return false;
    }
    *needCheck = false;
    // After a refused write only a write that succeeds says the recording is back.
    if (m_state.load() == State::Starting)
        setState(State::Recording, QString());
    return true;
}

void HistoryRecorder::storeFailed(HistoryStore& store, bool* needCheck)
{
    const HistoryStore::Fault fault = store.fault();
    const QString text = store.faultText();
    // A full disk keeps the connection: closing would checkpoint the log into the file and
    // could make room for a moment, so recording would flicker on and off.
    if (fault != HistoryStore::Fault::DiskFull)
        store.close();
    m_failing = true;
    if (fault == HistoryStore::Fault::Broken)
        *needCheck = true; // damage seen while running: check the file before going on
    m_retryAt = SteadyClock::now() + std::chrono::milliseconds(m_options.retryMs);
    if (fault == HistoryStore::Fault::DiskFull)
        setState(State::DiskFull, diskFullMessage());
    else
        setState(State::Failing, QStringLiteral("История не записывается: %1").arg(text));
}

bool HistoryRecorder::writeBatch(HistoryStore& store, HistoryRollup& rollup,
                                 const std::deque<HistorySweep>& batch)
{
    const qint64 now = m_clock();
    QVector<HistoryFrame> frames;
    frames.reserve(int(batch.size()));
    QVector<qint64> times;
    times.reserve(int(batch.size()));
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const HistorySweep& s : batch) {
        frames.append(HistoryFrame::fromSweep(s));
        times.append(s.msecsSinceEpoch);
        earliest = qMin(earliest, s.msecsSinceEpoch);
    }
    const qint64 moveTo = rollup.markFor(earliest, now);
    if (!store.writeFrames(frames, moveTo))
        return false;
    rollup.noteWritten(earliest, moveTo);
    m_written.fetch_add(frames.size());
    m_failing = false;
    if (m_state.load() != State::Recording)
        setState(State::Recording, resumedMessage());
    emit sweepsCommitted(times);
    return true;
}

void HistoryRecorder::requeue(std::deque<HistorySweep>&& batch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Back in front of whatever arrived meanwhile, the oldest dropped beyond the limit.
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
        batch.push_back(std::move(*it));
    m_queue.swap(batch);
    while (int(m_queue.size()) > m_options.queueLimit) {
        m_queue.pop_front();
        ++m_dropped;
    }
    batch.clear();
}

QString HistoryRecorder::setAsideFile()
{
    const QString stamp =
        QDateTime::fromMSecsSinceEpoch(m_clock()).toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = m_path + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo::exists(aside + QStringLiteral("-wal")); ++n)
        aside = m_path + QStringLiteral(".broken-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(m_path, aside))
        return QString();
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString from = m_path + QLatin1String(suffix);
        const QFileInfo info(from);
        if (!info.exists())
            continue;
        // An empty log is only what the check itself left. Whatever happens, a fresh file
        // must never start from the broken one's log.
        if (info.size() == 0 || !QFile::rename(from, aside + QLatin1String(suffix)))
            QFile::remove(from);
    }
    return aside;
}
