// A history.sqlite that is no usable history at start-up is set aside whole, with its log,
// recording begins in a new file, and the caller is told exactly once.
#include "HistoryTestSupport.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray hashOf(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(content), qint64(content.size()));
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// Runs SQL on a database file of the test's own making.
void runSql(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-make"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString& sql : statements)
            QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-make"));
}

// Three days back: old enough to be rolled up, young enough to keep its sweeps.
const qint64 oldStart =
    HistoryTime::slotStart(QDateTime::currentMSecsSinceEpoch() - 3 * HistoryTime::day, HistoryTime::hour);

// A real history of some size, closed properly.
void makeHistory(const QString& path, int sweeps)
{
    HistoryRecorder recorder(path);
    QVector<HistorySweep> all;
    for (int i = 0; i < sweeps; ++i)
        all.append(makeSweep(oldStart + i * 3000));
    QVERIFY(recordAll(recorder, all));
}

} // namespace

class TestHistoryCorrupt : public QObject
{
    Q_OBJECT
private slots:
    void startUp_data();
    void startUp();
};

void TestHistoryCorrupt::startUp_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("setAside");
    QTest::newRow("random bytes, with a log") << "garbage" << true;
    QTest::newRow("a line of text") << "text" << true;
    QTest::newRow("history cut short") << "truncated" << true;
    QTest::newRow("history with a page overwritten") << "overwritten" << true;
    QTest::newRow("another program's database") << "foreign" << true;
    QTest::newRow("history of another layout") << "other version" << true;
    QTest::newRow("empty file") << "empty" << false;
    QTest::newRow("sound history") << "sound" << false;
}

void TestHistoryCorrupt::startUp()
{
    QFETCH(QString, damage);
    QFETCH(bool, setAside);
    QTemporaryDir dir;
    const QString path = historyPath(dir.path());

    if (damage == QLatin1String("garbage")) {
        writeFile(path, randomBytes(65536));
        writeFile(path + "-wal", randomBytes(8192));
    } else if (damage == QLatin1String("text")) {
        writeFile(path, "not a database\n");
    } else if (damage == QLatin1String("truncated") || damage == QLatin1String("overwritten") ||
               damage == QLatin1String("sound")) {
        makeHistory(path, 3000);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        QVERIFY(size > 200000);
        if (damage == QLatin1String("truncated"))
            QVERIFY(f.resize(size * 2 / 5));
        else if (damage == QLatin1String("overwritten"))
            QVERIFY(f.seek(size / 2 / 4096 * 4096) && f.write(randomBytes(4096)) == 4096);
    } else if (damage == QLatin1String("foreign")) {
        runSql(path, {"CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT)",
                      "INSERT INTO notes(text) VALUES('kept as it was')"});
    } else if (damage == QLatin1String("other version")) {
        QStringList sql;
        for (const QString& s : HistoryStore::schemaStatements())
            sql.append(s);
        sql << "PRAGMA application_id=1330792521"
            << "PRAGMA user_version=7";
        runSql(path, sql);
    } else if (damage == QLatin1String("empty")) {
        writeFile(path, QByteArray());
    }
    const QByteArray before = hashOf(path);

    // A reader made before the recorder follows it to the new file.
    HistoryQuery query(path);
    query.series(0, oldStart, oldStart + HistoryTime::day, HistoryResolution::Raw);

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        HistoryRecorder recorder(path);
        QSignalSpy aside(&recorder, &HistoryRecorder::setAside);
        QSignalSpy state(&recorder, &HistoryRecorder::stateChanged);
        for (int i = 0; i < 10; ++i)
            recorder.record(makeSweep(now - 30000 + i * 3000));
        QVERIFY(recorder.waitUntilWritten(30000));
        QCOMPARE(recorder.state(), HistoryRecorder::State::Recording);
        QCOMPARE(recorder.stats().written, qint64(10));
        QTRY_COMPARE(state.count(), 1);
        QCOMPARE(state.first().at(0).value<HistoryRecorder::State>(), HistoryRecorder::State::Recording);
        QCOMPARE(aside.count(), setAside ? 1 : 0);

        const QStringList broken = QDir(dir.path()).entryList({"history.sqlite.broken-*"}, QDir::Files);
        if (setAside) {
            const QString brokenPath = aside.first().at(0).toString();
            const QString name = QFileInfo(brokenPath).fileName();
            QVERIFY2(QRegularExpression("^history\\.sqlite\\.broken-\\d{8}-\\d{6}$").match(name).hasMatch(),
                     qPrintable(name));
            QCOMPARE(aside.first().at(1).toString(), HistoryRecorder::setAsideMessage(name));
            QVERIFY(aside.first().at(1).toString().startsWith(
                QStringLiteral("История повреждена и отложена в ")));
            // Set aside as it was, with its log when SQLite found frames in it to keep.
            QCOMPARE(hashOf(brokenPath), before);
            QCOMPARE(broken.first(), name);
            for (const QString& other : broken.mid(1))
                QVERIFY2(other == name + "-wal" || other == name + "-shm", qPrintable(other));
        } else {
            QVERIFY(broken.isEmpty());
        }
    }
    QCOMPARE(quickCheck(path), QStringLiteral("ok"));

    // The new sweeps are there, the old ones only when the file was sound.
    const HistorySeries fresh = query.series(3, now - 30000, now + 1, HistoryResolution::Raw);
    QVERIFY2(query.lastError().isEmpty(), qPrintable(query.lastError()));
    QCOMPARE(fresh.points.size(), 10);
    QCOMPARE(fresh.points.first().vMean, std::round(voltageAt(now - 30000, 3) * 1000) / 1000);
    const int old =
        query.series(3, oldStart, oldStart + HistoryTime::day, HistoryResolution::Raw).points.size();
    QCOMPARE(old, damage == QLatin1String("sound") ? 3000 : 0);

    // Told once: the next start finds a sound file and says nothing.
    HistoryRecorder again(path);
    QSignalSpy asideAgain(&again, &HistoryRecorder::setAside);
    QSignalSpy stateAgain(&again, &HistoryRecorder::stateChanged);
    again.record(makeSweep(now + 3000));
    QVERIFY(again.waitUntilWritten(30000));
    QCOMPARE(again.state(), HistoryRecorder::State::Recording);
    QTRY_COMPARE(stateAgain.count(), 1); // what it has to say has arrived by now
    QCOMPARE(asideAgain.count(), 0);
    QCOMPARE(QDir(dir.path()).entryList({"history.sqlite.broken-*"}, QDir::Files).isEmpty(), !setAside);
}

QTEST_GUILESS_MAIN(TestHistoryCorrupt)
#include "tst_history_corrupt.moc"
