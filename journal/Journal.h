#pragma once

#include "journal/Event.h"
#include "journal/JournalFile.h"

#include <QList>
#include <QObject>
#include <QVector>
#include <deque>
#include <functional>
#include <mutex>

class Battery;
class QThread;
class Settings;

// The alarm journal. Reads journal.html back when it is made, then writes every event
// on a thread of its own, so that file work never holds up the window.
//
// Events reach the journal thread through a queue of its own: whoever hands events over
// only takes a lock for the moment of the hand-over, and events that pile up while the
// disk is busy go to the file together, with one sync.
class Journal : public QObject
{
    Q_OBJECT
public:
    // Events kept in memory: at least what the journal page can show and export.
    static constexpr int eventsKept = 4096;
    using FileNameChooser = std::function<QString()>;

    // Reads the journal back (on the calling thread), then starts the journal's thread.
    // The files live in `directory`, the working directory when none is given.
    explicit Journal(Settings* settings, const QString& directory = QString());
    // Stops the thread once every event handed over so far is on disk. Destroy the journal
    // on the thread that made it.
    ~Journal() override;

    // The event's paragraph as the journal file and the export write it.
    static QString toHtml(const Event& event);

    // The newest `count` events, oldest first. Safe from any thread.
    QList<Event> recentEvents(int count) const;
    QString filePath() const { return m_file.path(); }
    QString backupPath() const { return m_file.backupPath(); }

    // Hands a finished event to the journal thread. Call it on the thread that owns the
    // settings record (the size limit is read there).
    void enqueue(const Event& event, bool saveIntoFile = true);

    // PDF export of the newest `count` events. Asks for a file name (the chooser, or the
    // save dialog); a cancelled choice writes nothing; a file that cannot be written is reported.
    void exportPdf(int count);
    // The export itself, to the given name: true when a complete PDF is there.
    bool exportPdfTo(const QString& fileName, int count) const;
    // Replaces the save dialog, for callers that already know the name.
    void setFileNameChooser(FileNameChooser chooser) { m_chooser = std::move(chooser); }

signals:
    void updateJournalWidget(Event event);
    // The file could not take events (disk full, no permission): they wait in memory and
    // are tried again; `failing` turns false once everything waiting is on disk.
    void fileWriteTrouble(bool failing);

public slots:
    // Takes the battery's values on the calling thread, which must own the battery (the
    // window connects its signal directly), and hands the event to the journal thread.
    void addEvent(Battery* battery, bool isStarted, bool isConfirmed = false, bool saveIntoFile = true);

private slots:
    void writePending();

private:
    struct Pending
    {
        Event event;
        bool saveIntoFile = true;
        double journalSize = 0.0;
    };
    void writeBatch(const QVector<Pending>& batch);
    void keepUnwritten(const QByteArray& chunk);

    static constexpr int retryMs = 5000;
    // Paragraphs the file refused, oldest first, bounded so a disk that never comes back
    // cannot eat the memory (the oldest go first; every event stays on the page).
    static constexpr int unwrittenKeptBytes = 8 * 1024 * 1024;

    QThread* m_thread = nullptr;
    Settings* m_settings = nullptr;
    JournalFile m_file;
    FileNameChooser m_chooser;

    // Held while the files are written.
    std::mutex m_fileMutex;
    QByteArray m_unwritten;
    double m_unwrittenLimit = 0.0;
    bool m_retryScheduled = false;
    // Guards the hand-over queue and the kept events.
    mutable std::mutex m_queueMutex;
    QVector<Pending> m_pending;
    bool m_writeScheduled = false;
    std::deque<Event> m_events;
};
