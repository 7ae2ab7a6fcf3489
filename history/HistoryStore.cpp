#include "history/HistoryStore.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QSqlError>
#include <QVariant>

namespace {

constexpr qint64 applicationId = 0x4F524849; // "ORHI"
constexpr int schemaVersion = 1;

// SQLite's primary result codes that tell what went wrong.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteFull = 13;
constexpr int sqliteNotADatabase = 26;
constexpr int sqliteIoError = 10;

QString nextConnectionName()
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("history-writer-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

const char* const HistoryStore::watermarkKey = "rolled_up_to";

HistoryStore::HistoryStore(const QString& path) : m_path(path), m_connection(nextConnectionName()) {}

HistoryStore::~HistoryStore()
{
    close();
}

QStringList HistoryStore::schemaStatements()
{
    return {
        QStringLiteral("CREATE TABLE raw(t INTEGER PRIMARY KEY, v BLOB NOT NULL)"),
        QStringLiteral("CREATE TABLE minute(t INTEGER PRIMARY KEY, v BLOB NOT NULL)"),
        QStringLiteral("CREATE TABLE hour(t INTEGER PRIMARY KEY, v BLOB NOT NULL)"),
        QStringLiteral("CREATE TABLE meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL) WITHOUT ROWID"),
    };
}

HistoryStore::Fault HistoryStore::classify(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xFF;
    if (!ok)
        return Fault::Other;
    switch (code) {
    case sqliteCorrupt:
    case sqliteNotADatabase:
        return Fault::Broken;
    case sqliteFull:
    case sqliteIoError: // a refused write shows as one (EFBIG, or ENOSPC mid-page)
        return Fault::DiskFull;
    default:
        return Fault::Other;
    }
}

bool HistoryStore::fail(const QSqlError& error)
{
    m_fault = classify(error);
    m_faultText = error.text();
    if (m_db.isOpen())
        QSqlQuery(QStringLiteral("ROLLBACK"), m_db); // harmless when no transaction is open
    return false;
}

bool HistoryStore::exec(const QString& sql)
{
    QSqlQuery q(m_db);
    if (!q.exec(sql))
        return fail(q.lastError());
    return true;
}

bool HistoryStore::commit()
{
    // Not QSqlDatabase::commit(): that drops SQLite's result code, which tells a full disk.
    return exec(QStringLiteral("COMMIT"));
}

bool HistoryStore::open(bool checkIntegrity)
{
    close();
    m_fault = Fault::None;
    m_faultText.clear();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open()) {
        fail(m_db.lastError());
        close();
        return false;
    }
    bool empty = false;
    if (!checkFile(checkIntegrity, &empty)) {
        close();
        return false;
    }
    // WAL: a sweep is one append to the log, and readers never wait for the writer.
    // NORMAL syncs at checkpoints only; a killed program still keeps every commit.
    QSqlQuery mode(m_db);
    if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next()) {
        fail(mode.lastError());
        close();
        return false;
    }
    if (mode.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        m_fault = Fault::Other;
        m_faultText = QStringLiteral("journal_mode is %1").arg(mode.value(0).toString());
        close();
        return false;
    }
    mode.finish();
    // Appends touch only the right edge of each table: a small page cache is enough, and it
    // bounds what the history holds in memory over months of running.
    if (!exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
        !exec(QStringLiteral("PRAGMA journal_size_limit=4194304")) ||
        !exec(QStringLiteral("PRAGMA cache_size=-512")) || (empty && !createSchema())) {
        close();
        return false;
    }
    m_insertRaw = std::make_unique<QSqlQuery>(m_db);
    if (!m_insertRaw->prepare(QStringLiteral("INSERT OR REPLACE INTO raw(t, v) VALUES(?, ?)"))) {
        fail(m_insertRaw->lastError());
        close();
        return false;
    }
    m_open = true;
    return true;
}

bool HistoryStore::checkFile(bool checkIntegrity, bool* empty)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // The first read of the header: a file that is no database fails here.
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return fail(q.lastError());
    const qint64 appId = q.value(0).toLongLong();
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return fail(q.lastError());
    const int version = q.value(0).toInt();
    if (!q.exec(QStringLiteral("SELECT sql FROM sqlite_master ORDER BY rowid")))
        return fail(q.lastError());
    QStringList found;
    while (q.next())
        found.append(q.value(0).toString());
    if (q.lastError().isValid())
        return fail(q.lastError());
    *empty = appId == 0 && version == 0 && found.isEmpty();

    if (checkIntegrity && !*empty) {
        if (!q.exec(QStringLiteral("PRAGMA quick_check")))
            return fail(q.lastError());
        const QString verdict = q.next() ? q.value(0).toString() : q.lastError().text();
        if (verdict != QLatin1String("ok")) {
            m_fault = Fault::Broken;
            m_faultText = verdict;
            return false;
        }
    }
    if (!*empty && (appId != applicationId || version != schemaVersion || found != schemaStatements())) {
        m_fault = Fault::Broken;
        m_faultText = QStringLiteral("not a history of this program (application_id %1, version %2)")
                          .arg(appId)
                          .arg(version);
        return false;
    }
    return true;
}

bool HistoryStore::createSchema()
{
    if (!exec(QStringLiteral("BEGIN")))
        return false;
    for (const QString& sql : schemaStatements()) {
        if (!exec(sql))
            return false;
    }
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO meta(k, v) VALUES(?, ?)"));
    q.addBindValue(QString::fromLatin1(watermarkKey));
    q.addBindValue(nothingRolledUp);
    if (!q.exec())
        return fail(q.lastError());
    if (!exec(QStringLiteral("PRAGMA application_id=%1").arg(applicationId)) ||
        !exec(QStringLiteral("PRAGMA user_version=%1").arg(schemaVersion)))
        return false;
    return commit();
}

void HistoryStore::close()
{
    m_open = false;
    m_insertRaw.reset();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool HistoryStore::writeFrames(const QVector<HistoryFrame>& frames, qint64 moveWatermarkTo)
{
    if (!exec(QStringLiteral("BEGIN")))
        return false;
    for (const HistoryFrame& f : frames) {
        m_insertRaw->bindValue(0, f.msecs);
        m_insertRaw->bindValue(1, f.encode());
        if (!m_insertRaw->exec())
            return fail(m_insertRaw->lastError());
    }
    if (moveWatermarkTo != nothingRolledUp) {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("UPDATE meta SET v = ? WHERE k = ? AND v > ?"));
        q.addBindValue(moveWatermarkTo);
        q.addBindValue(QString::fromLatin1(watermarkKey));
        q.addBindValue(moveWatermarkTo);
        if (!q.exec())
            return fail(q.lastError());
    }
    return commit();
}

qint64 HistoryStore::watermark()
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT v FROM meta WHERE k = ?"));
    q.addBindValue(QString::fromLatin1(watermarkKey));
    if (!q.exec() || !q.next()) {
        fail(q.lastError());
        return nothingRolledUp;
    }
    return q.value(0).toLongLong();
}

bool HistoryStore::firstRawAtOrAfter(qint64 from, qint64* msecs)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT t FROM raw WHERE t >= ? ORDER BY t LIMIT 1"));
    q.addBindValue(from);
    if (!q.exec())
        return fail(q.lastError());
    if (!q.next())
        return false;
    *msecs = q.value(0).toLongLong();
    return true;
}

bool HistoryStore::readRaw(qint64 from, qint64 to, int limit, QVector<HistoryFrame>* frames)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT t, v FROM raw WHERE t >= ? AND t < ? ORDER BY t LIMIT ?"));
    q.addBindValue(from);
    q.addBindValue(to);
    q.addBindValue(limit);
    if (!q.exec())
        return fail(q.lastError());
    while (q.next()) {
        HistoryFrame f;
        f.decode(q.value(1).toByteArray());
        f.msecs = q.value(0).toLongLong();
        frames->append(f);
    }
    if (q.lastError().isValid())
        return fail(q.lastError());
    return true;
}

bool HistoryStore::writeRollup(qint64 hourStart, const QByteArray& minutes, const QByteArray& hour,
                               qint64 watermark)
{
    if (!exec(QStringLiteral("BEGIN")))
        return false;
    QSqlQuery q(m_db);
    for (const auto& [table, blob] : {std::pair<QString, QByteArray>(QStringLiteral("minute"), minutes),
                                      std::pair<QString, QByteArray>(QStringLiteral("hour"), hour)}) {
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO %1(t, v) VALUES(?, ?)").arg(table));
        q.addBindValue(hourStart);
        q.addBindValue(blob);
        if (!q.exec())
            return fail(q.lastError());
    }
    q.prepare(QStringLiteral("UPDATE meta SET v = ? WHERE k = ?"));
    q.addBindValue(watermark);
    q.addBindValue(QString::fromLatin1(watermarkKey));
    if (!q.exec())
        return fail(q.lastError());
    return commit();
}

int HistoryStore::deleteOldest(const char* table, qint64 before, int limit)
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM %1 WHERE t IN (SELECT t FROM %1 WHERE t < ? ORDER BY t LIMIT ?)")
                  .arg(QLatin1String(table)));
    q.addBindValue(before);
    q.addBindValue(limit);
    if (!q.exec()) {
        fail(q.lastError());
        return -1;
    }
    return q.numRowsAffected();
}
