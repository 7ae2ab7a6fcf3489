// The monitor killed with SIGKILL in the middle of an alarm storm, while its settings are being
// saved: every event it had written reads back from the journal, in order, and settings.xml is
// one of the two versions it was saving, whole. Asked to end by a signal instead, it ends cleanly:
// every event it took is on disk and the history is closed.
#include "../common/SimulatedLine.h"
#include "../common/StormSupport.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"
#include "journal/JournalFormat.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> paragraphsOnDisk(const QString& folder)
{
    return journalParagraphs(QDir(folder).filePath("journal_bak.html")) +
           journalParagraphs(QDir(folder).filePath("journal.html"));
}

} // namespace

class TestMonitorKill : public QObject
{
    Q_OBJECT
private slots:
    void endedDuringAStorm_data();
    void endedDuringAStorm();
};

namespace {

// The storm child in a folder of its own, with what it reported so far.
struct StormChild
{
    QTemporaryDir folder;
    ChildOfTest process;
    QList<QByteArray> written;
    int saves = 0;
    QByteArray pending;

    bool start(const QString& line)
    {
        QFile settings(folder.filePath("settings.xml"));
        if (!settings.open(QIODevice::WriteOnly))
            return false;
        settings.write(everyBatteryGrouped());
        settings.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(MONITOR_STORM_CHILD, {folder.path(), line});
        return process.waitForStarted();
    }
    void take()
    {
        pending += process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray text = pending.left(end);
            pending.remove(0, end + 1);
            if (text.startsWith("E "))
                written << JournalFormat::encode(QString::fromUtf8(text.mid(2)));
            else if (text.startsWith("S "))
                saves = text.mid(2).toInt();
        }
    }
    bool intoTheStorm()
    {
        return QTest::qWaitFor(
            [&] {
                take();
                return written.size() >= 20 && saves >= 5;
            },
            30000);
    }
};

} // namespace

void TestMonitorKill::endedDuringAStorm_data()
{
    QTest::addColumn<int>("signal");
    for (int round = 1; round <= 6; ++round) // at a random moment each
        QTest::newRow(qPrintable(QString("SIGKILL, round %1").arg(round))) << int(SIGKILL);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestMonitorKill::endedDuringAStorm()
{
    QFETCH(int, signal);
    SimulatedLine line;
    QVERIFY(line.start(stormOptions()));
    StormChild child;
    QVERIFY(child.start(line.link()));
    QVERIFY(child.intoTheStorm());
    if (signal == SIGKILL)
        QTest::qWait(int(QRandomGenerator::global()->bounded(1500)));
    ::kill(pid_t(child.process.processId()), signal);
    QVERIFY(child.process.waitForFinished(15000));
    child.take();
    const QString folder = child.folder.path();
    qInfo("%d events and %d saves acknowledged", int(child.written.size()), child.saves);

    // settings.xml is whole: one of the two versions being saved, and it loads.
    const QByteArray saved = readAll(folder + "/settings.xml");
    QVERIFY2(saved == readAll(folder + "/variant-0.xml") || saved == readAll(folder + "/variant-1.xml"),
             qPrintable(QString("settings.xml is neither version (%1 bytes)").arg(saved.size())));
    AlarmThresholds thresholds;
    Settings reloaded;
    reloaded.setThresholds(&thresholds);
    QVERIFY(reloaded.load(folder + "/settings.xml"));
    if (signal == SIGKILL) {
        // The journal holds what was reported written, as its first paragraphs; at most the
        // batch under way at the kill may follow.
        QCOMPARE(paragraphsOnDisk(folder).mid(0, child.written.size()), child.written);
        return;
    }
    QCOMPARE(child.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.process.exitCode(), 0);
    // Every event it took was written before it ended, and the file is whole.
    QCOMPARE(paragraphsOnDisk(folder), child.written);
    QVERIFY(readAll(folder + "/journal.html").endsWith("</body>\n</html>"));
    // The history was closed: SQLite folds the write-ahead log back in on the last close.
    QVERIFY(QFileInfo(folder + "/history.sqlite").size() > 0);
    QCOMPARE(QFileInfo(folder + "/history.sqlite-wal").size(), 0);
}

QTEST_GUILESS_MAIN(TestMonitorKill)
#include "tst_monitor_kill.moc"
