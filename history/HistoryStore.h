#pragma once

#include "history/HistoryFrame.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>
#include <limits>
#include <memory>

class QSqlError;

// The writer's connection to history.sqlite: opening and checking the file, the schema,
// and the statements the recorder, the roll-up and the clean-up run. Lives on one thread.
//
// Tables, all keyed by a time in milliseconds since the epoch (the rowid itself, so a row
// costs no key of its own and appending in time order fills pages completely):
//   raw(t, v)     one row per sweep, v = HistoryFrame::encode()
//   minute(t, v)  one row per hour rolled up, v = the hour's 60 minutes, packed
//   hour(t, v)    one row per hour rolled up, v = the hour's figures, plain
//   meta(k, v)    'rolled_up_to': every sweep before it is in minute and hour
class HistoryStore
{
public:
    enum class Fault
    {
        None,
        Broken,   // not a database, damaged, or not ours: to be set aside
        DiskFull, // the disk refused a write
        Other     // cannot open or write for another reason; may pass
    };

    static constexpr qint64 nothingRolledUp = std::numeric_limits<qint64>::min();
    static const char* const watermarkKey;

    explicit HistoryStore(const QString& path);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    QString path() const { return m_path; }
    bool isOpen() const { return m_open; }
    Fault fault() const { return m_fault; }
    QString faultText() const { return m_faultText; }

    // Opens the file, creating it with the schema when it is new or empty. With
    // `checkIntegrity` the whole file is read through once (PRAGMA quick_check).
    bool open(bool checkIntegrity);
    void close();

    // One transaction: the sweeps, and the roll-up mark moved back when a sweep lands in
    // an hour already rolled up (its figures are then worked out again).
    bool writeFrames(const QVector<HistoryFrame>& frames, qint64 moveWatermarkTo);
    qint64 watermark();

    // Time of the first sweep at or after `from`; false when there is none (or on error).
    bool firstRawAtOrAfter(qint64 from, qint64* msecs);
    // Up to `limit` sweeps in [from, to), oldest first; false on error.
    bool readRaw(qint64 from, qint64 to, int limit, QVector<HistoryFrame>* frames);
    // One transaction: an hour's minute and hour rows and the roll-up mark past it.
    bool writeRollup(qint64 hourStart, const QByteArray& minutes, const QByteArray& hour, qint64 watermark);
    // Deletes up to `limit` of the oldest rows of `table` with t < before; the number deleted,
    // or -1 on error.
    int deleteOldest(const char* table, qint64 before, int limit);

    // Fault of a failed statement, from SQLite's result code.
    static Fault classify(const QSqlError& error);
    // The schema's statements, in order; the check compares the file with them.
    static QStringList schemaStatements();

private:
    bool fail(const QSqlError& error);
    bool exec(const QString& sql);
    bool commit();
    bool checkFile(bool checkIntegrity, bool* empty);
    bool createSchema();

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    bool m_open = false;
    Fault m_fault = Fault::None;
    QString m_faultText;
    std::unique_ptr<QSqlQuery> m_insertRaw;
};
