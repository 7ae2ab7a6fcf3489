// The monitor killed with SIGKILL in the middle of an alarm storm, while its settings are being
// saved: every event it had written reads back from the journal, in order, and settings.xml is
// one of the two versions it was saving, whole.
#include "../common/SimulatedLine.h"
#include "../common/StormSupport.h"
#include "config/AlarmThresholds.h"
#include "config/Settings.h"
#include "journal/JournalFormat.h"

#include <QDir>
#include <QProcess>
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
    void killedDuringAStorm();
};

void TestMonitorKill::killedDuringAStorm()
{
    SimulatedLine line;
    QVERIFY(line.start(stormOptions()));
    QRandomGenerator random(QRandomGenerator::global()->generate());
    int totalEvents = 0, totalSaves = 0;

    for (int round = 0; round < 6; ++round) {
        QTemporaryDir folder;
        QFile settings(folder.filePath("settings.xml"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(everyBatteryGrouped());
        settings.close();

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(MONITOR_STORM_CHILD, {folder.path(), line.link()});
        QVERIFY(child.waitForStarted());
        QList<QByteArray> written;
        int saves = 0;
        QByteArray pending;
        const auto take = [&] {
            pending += child.readAllStandardOutput();
            int end;
            while ((end = pending.indexOf('\n')) >= 0) {
                const QByteArray text = pending.left(end);
                pending.remove(0, end + 1);
                if (text.startsWith("E "))
                    written << JournalFormat::encode(QString::fromUtf8(text.mid(2)));
                else if (text.startsWith("S "))
                    saves = text.mid(2).toInt();
            }
        };
        // Into the storm, then a random moment later.
        QVERIFY(QTest::qWaitFor(
            [&] {
                take();
                return written.size() >= 20 && saves >= 5;
            },
            30000));
        QTest::qWait(int(random.bounded(1500)));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        take();
        totalEvents += written.size();
        totalSaves += saves;

        // The journal holds what was reported written, as its first paragraphs; at most the
        // batch under way at the kill may follow.
        const QList<QByteArray> onDisk = paragraphsOnDisk(folder.path());
        QVERIFY2(onDisk.size() >= written.size(), qPrintable(QString("round %1: %2 on disk, %3 written")
                                                                 .arg(round)
                                                                 .arg(onDisk.size())
                                                                 .arg(written.size())));
        for (int i = 0; i < written.size(); ++i)
            QVERIFY2(onDisk[i] == written[i],
                     qPrintable(QString("round %1, event %2 differs:\n%3\n%4")
                                    .arg(round)
                                    .arg(i)
                                    .arg(QString::fromLatin1(onDisk[i]), QString::fromLatin1(written[i]))));

        const QByteArray saved = readAll(folder.filePath("settings.xml"));
        QVERIFY2(saved == readAll(folder.filePath("variant-0.xml")) ||
                     saved == readAll(folder.filePath("variant-1.xml")),
                 qPrintable(QString("round %1: settings.xml is neither version (%2 bytes)")
                                .arg(round)
                                .arg(saved.size())));
        AlarmThresholds thresholds;
        Settings reloaded;
        reloaded.setThresholds(&thresholds);
        QVERIFY(reloaded.load(folder.filePath("settings.xml")));
    }
    qInfo("%d events and %d saves acknowledged before the kills", totalEvents, totalSaves);
}

QTEST_GUILESS_MAIN(TestMonitorKill)
#include "tst_monitor_kill.moc"
