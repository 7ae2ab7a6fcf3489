#include "journal/Journal.h"

#include "config/Settings.h"
#include "core/AlarmThresholds.h"
#include "journal/JournalFormat.h"

#include <QThread>
#include <QTimer>

namespace {
// Sizes are compared in units of 2^20 bytes.
constexpr double kBytesToMegabytes = 1.0 / 1048576.0;
} // namespace

Journal::Journal(Settings* settings, const QString& directory)
    : QObject(nullptr), m_settings(settings), m_file(directory)
{
    qRegisterMetaType<Event>("Event");

    const QByteArray content = m_file.readAtStart();
    const AlarmThresholds thresholds =
        settings && settings->thresholds() ? *settings->thresholds() : AlarmThresholds();
    const JournalFormat::ReadBack readBack = JournalFormat::readBack(content, thresholds, eventsKept);
    m_events.assign(readBack.events.cbegin(), readBack.events.cend());

    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("journal"));
    moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);
}

Journal::~Journal()
{
    m_thread->quit();
    m_thread->wait();
    // Whatever arrived after the thread's last round goes to disk now.
    writePending();
    delete m_thread;
}

QString Journal::toHtml(const Event& event)
{
    return JournalFormat::toHtml(event);
}

QList<Event> Journal::recentEvents(int count) const
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    const int available = int(m_events.size());
    const int n = qBound(0, count, available);
    QList<Event> result;
    result.reserve(n);
    for (auto it = m_events.cend() - n; it != m_events.cend(); ++it)
        result.append(*it);
    return result;
}

void Journal::addEvent(Battery* battery, bool isStarted, bool isConfirmed, bool saveIntoFile)
{
    enqueue(Event(battery, isStarted, isConfirmed), saveIntoFile);
}

void Journal::enqueue(const Event& event, bool saveIntoFile)
{
    const double limit = m_settings ? m_settings->journalSize() : Settings::defaultJournalSize;
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_pending.append({event, saveIntoFile, limit});
        schedule = !m_writeScheduled;
        m_writeScheduled = true;
    }
    if (schedule)
        QMetaObject::invokeMethod(this, "writePending", Qt::QueuedConnection);
}

void Journal::writePending()
{
    QVector<Pending> batch;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        batch.swap(m_pending);
        m_writeScheduled = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        if (batch.isEmpty() && m_unwritten.isEmpty())
            return;
        const bool wasFailing = !m_unwritten.isEmpty();
        writeBatch(batch);
        const bool failing = !m_unwritten.isEmpty();
        if (failing && !m_retryScheduled && QThread::currentThread() == m_thread) {
            m_retryScheduled = true;
            QTimer::singleShot(retryMs, this, [this] {
                m_retryScheduled = false;
                writePending();
            });
        }
        if (failing != wasFailing)
            emit fileWriteTrouble(failing);
    }
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        for (const Pending& p : qAsConst(batch))
            m_events.push_back(p.event);
        while (m_events.size() > size_t(eventsKept))
            m_events.pop_front();
    }
    for (const Pending& p : qAsConst(batch))
        emit updateJournalWidget(p.event);
}

void Journal::writeBatch(const QVector<Pending>& batch)
{
    // Paragraphs go to the file together, split only where the size limit is crossed: the
    // paragraph that takes the file over the limit is the last one before a rotation.
    // What the file refused before goes first, so the order on disk stays the order of events.
    QByteArray chunk = m_unwritten;
    double limit = m_unwrittenLimit;
    m_unwritten.clear();
    bool refused = false;
    qint64 sizeBefore = m_file.isKnownIntact() ? m_file.size() : -1;
    const auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (refused || !m_file.append(chunk)) {
            // The rest of the batch waits with it rather than knocking on a full disk again.
            refused = true;
            m_unwrittenLimit = limit;
            keepUnwritten(chunk);
            chunk.clear();
            return;
        }
        chunk.clear();
        const qint64 size = m_file.size();
        if (size >= 0 && double(size) * kBytesToMegabytes > limit)
            m_file.rotate(); // on failure the next event tries again
        sizeBefore = m_file.isKnownIntact() ? m_file.size() : -1;
    };
    for (const Pending& p : batch) {
        if (!p.saveIntoFile)
            continue;
        chunk += JournalFormat::encode(JournalFormat::toHtml(p.event));
        chunk += '\n';
        limit = p.journalSize;
        // A file of unknown shape takes one paragraph at a time until it is whole again.
        if (sizeBefore < 0 || double(sizeBefore + chunk.size()) * kBytesToMegabytes > limit)
            flush();
    }
    flush();
}

void Journal::keepUnwritten(const QByteArray& chunk)
{
    m_unwritten += chunk;
    if (m_unwritten.size() <= unwrittenKeptBytes)
        return;
    const int cut = m_unwritten.indexOf('\n', m_unwritten.size() - unwrittenKeptBytes);
    m_unwritten.remove(0, cut < 0 ? m_unwritten.size() : cut + 1);
}
