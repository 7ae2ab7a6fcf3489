#include "journal/EventOutbox.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr qint64 applicationId = 0x4F524D51; // "ORMQ"
const QString kSchema = QStringLiteral("CREATE TABLE outbox(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                       "topic TEXT NOT NULL, payload BLOB NOT NULL)");

QString nextConnectionName()
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("outbox-%1").arg(counter.fetchAndAddRelaxed(1));
}

// SQLite's primary codes for a file that is damaged or no database.
bool isBroken(const QSqlError& error)
{
    const int code = error.nativeErrorCode().toInt() & 0xFF;
    return code == 11 || code == 26;
}

} // namespace

EventOutbox::EventOutbox(int bound, const QString& title)
    : m_bound(qMax(1, bound)), m_title(title), m_connection(nextConnectionName())
{
}

EventOutbox::~EventOutbox()
{
    close();
}

void EventOutbox::close()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_size = 0;
}

bool EventOutbox::fail(const QString& what, const QString& detail)
{
    m_errorText = QStringLiteral("%1: %2 (%3)").arg(m_title, what, detail);
    return false;
}

bool EventOutbox::exec(const QString& sql)
{
    QSqlQuery q(m_db);
    return q.exec(sql) || fail(QStringLiteral("ошибка записи"), q.lastError().text());
}

bool EventOutbox::open(const QString& path)
{
    m_errorText.clear();
    const Check check = openFile(path);
    if (check == Check::Usable)
        return true;
    close();
    if (check == Check::Failed)
        return false;
    const QString reason = m_errorText, aside = setAside(path);
    if (aside.isEmpty())
        return fail(QStringLiteral("файл повреждён и не может быть отложен"), reason);
    if (openFile(path) != Check::Usable) {
        close();
        return false;
    }
    m_errorText = QStringLiteral("%1 повреждена (%2) и отложена в %3; начата новая")
                      .arg(m_title)
                      .arg(reason, QFileInfo(aside).fileName());
    return true;
}

EventOutbox::Check EventOutbox::openFile(const QString& path)
{
    close();
    m_errorText.clear();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(path);
    if (!m_db.open()) {
        fail(QStringLiteral("файл не открывается"), m_db.lastError().text());
        return Check::Failed;
    }
    QSqlQuery q(m_db);
    // The first reads of the file: one that is damaged or no database fails here.
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next()) {
        if (!isBroken(q.lastError())) {
            fail(QStringLiteral("файл не читается"), q.lastError().text());
            return Check::Failed;
        }
        m_errorText = q.lastError().text();
        return Check::Broken;
    }
    if (q.value(0).toString() != QLatin1String("ok")) {
        m_errorText = q.value(0).toString();
        return Check::Broken;
    }
    q.exec(QStringLiteral("PRAGMA application_id"));
    const qint64 appId = q.next() ? q.value(0).toLongLong() : -1;
    q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    const int objects = q.next() ? q.value(0).toInt() : -1;
    q.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'outbox'"));
    const QString schema = q.next() ? q.value(0).toString() : QString();
    q.finish();
    if (appId == 0 && objects == 0) {
        if (!exec(kSchema) || !exec(QStringLiteral("PRAGMA application_id=%1").arg(applicationId)))
            return Check::Failed;
    } else if (appId != applicationId || schema != kSchema) {
        m_errorText = QStringLiteral("не файл очереди событий");
        return Check::Broken;
    }
    // WAL with NORMAL sync: an append is one write to the log and a killed program keeps it.
    if (!exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
        !q.exec(QStringLiteral("SELECT count(*) FROM outbox")) || !q.next()) {
        fail(QStringLiteral("файл не читается"), q.lastError().text());
        return Check::Failed;
    }
    m_size = q.value(0).toInt();
    return Check::Usable;
}

QString EventOutbox::setAside(const QString& path) const
{
    // Like the history's: the damaged file and its log keep a time-stamped name for a look later.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = path + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(path, aside))
        return QString();
    // A new file must never start from the damaged one's log.
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        if (QFileInfo::exists(path + suffix) && !QFile::rename(path + suffix, aside + suffix))
            QFile::remove(path + suffix);
    return aside;
}

qint64 EventOutbox::append(const QString& topic, const QByteArray& payload)
{
    if (!isOpen())
        return -1;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("INSERT INTO outbox(topic, payload) VALUES(?, ?)"));
    q.addBindValue(topic);
    q.addBindValue(payload);
    if (!q.exec()) {
        fail(QStringLiteral("событие не записано"), q.lastError().text());
        return -1;
    }
    const qint64 id = q.lastInsertId().toLongLong();
    ++m_size;
    if (m_size > m_bound) {
        // The oldest go first: an outage of any length must not fill the disk.
        const int excess = m_size - m_bound;
        if (exec(QStringLiteral("DELETE FROM outbox WHERE id IN (SELECT id FROM outbox ORDER BY id LIMIT %1)")
                     .arg(excess))) {
            m_size -= excess;
            m_dropped += excess;
        }
    }
    return id;
}

QVector<EventOutbox::Message> EventOutbox::peek(int n)
{
    QVector<Message> messages;
    if (!isOpen())
        return messages;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, topic, payload FROM outbox ORDER BY id LIMIT ?"));
    q.addBindValue(n);
    if (!q.exec())
        fail(QStringLiteral("ошибка чтения"), q.lastError().text());
    while (q.next())
        messages.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toByteArray()});
    return messages;
}

bool EventOutbox::acknowledge(qint64 id)
{
    if (!isOpen())
        return false;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec())
        return fail(QStringLiteral("ошибка записи"), q.lastError().text());
    m_size -= q.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

int EventOutbox::takeDroppedCount()
{
    const int dropped = m_dropped;
    m_dropped = 0;
    return dropped;
}
