// A writer killed with SIGKILL at random moments: every event it was told is on disk reads
// back afterwards, in order, without gaps, and the next run carries on from there.
#include "JournalTestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>
#include <csignal>

namespace {

// The numbers of the events in journal_bak.html followed by journal.html. A kill between
// writing the backup and emptying the journal leaves both holding the same events.
bool mergedNumbers(const QString& folder, QList<int>* numbers, QString* why)
{
    const JournalFormat::ReadBack backup = readBackFile(QDir(folder).filePath("journal_bak.html"));
    const JournalFormat::ReadBack journal = readBackFile(QDir(folder).filePath("journal.html"));
    numbers->clear();
    for (const Event& e : backup.events)
        numbers->append(numberOf(e));
    for (const Event& e : journal.events) {
        const int n = numberOf(e);
        if (!numbers->isEmpty() && n <= numbers->last()) {
            if (!numbers->contains(n)) {
                *why = QStringLiteral("journal.html repeats %1, which the backup lacks").arg(n);
                return false;
            }
            continue;
        }
        numbers->append(n);
    }
    for (int i = 1; i < numbers->size(); ++i) {
        if (numbers->at(i) != numbers->at(i - 1) + 1) {
            *why = QStringLiteral("gap or disorder after %1: next is %2")
                       .arg(numbers->at(i - 1))
                       .arg(numbers->at(i));
            return false;
        }
    }
    return true;
}

} // namespace

class TestJournalCrash : public QObject
{
    Q_OBJECT
private slots:
    void killedAtRandomMoments_data();
    void killedAtRandomMoments();
};

void TestJournalCrash::killedAtRandomMoments_data()
{
    QTest::addColumn<QString>("journalSize");
    QTest::newRow("one growing journal") << "100";
    QTest::newRow("rotating every 10 KiB") << "0.01";
}

void TestJournalCrash::killedAtRandomMoments()
{
    QFETCH(QString, journalSize);
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    int acknowledgedInAll = 0;
    int highestAcknowledged = -1;

    for (int round = 0; round < 25; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QStringLiteral(JOURNAL_CRASH_WRITER),
                     {dir.path(), journalSize, QString::number(seed + quint32(round))});
        QVERIFY(writer.waitForStarted(10000));
        // Mostly while it writes; now and then while it starts and reads back.
        if (round % 5 != 4)
            QVERIFY(writer.waitForReadyRead(30000));
        QThread::msleep(random.bounded(150));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

        // Only whole lines count: the last one may have been cut by the kill.
        const QByteArray output = writer.readAllStandardOutput();
        const QList<QByteArray> lines = output.left(output.lastIndexOf('\n') + 1).split('\n');
        for (const QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            highestAcknowledged = qMax(highestAcknowledged, line.toInt());
            ++acknowledgedInAll;
        }

        QList<int> numbers;
        QString why;
        QVERIFY2(mergedNumbers(dir.path(), &numbers, &why),
                 qPrintable(QString("round %1: %2").arg(round).arg(why)));
        if (highestAcknowledged >= 0) {
            QVERIFY2(!numbers.isEmpty() && numbers.last() >= highestAcknowledged,
                     qPrintable(QString("round %1: %2 acknowledged, files end at %3")
                                    .arg(round)
                                    .arg(highestAcknowledged)
                                    .arg(numbers.isEmpty() ? -1 : numbers.last())));
        }
        if (journalSize == QLatin1String("100") && !numbers.isEmpty())
            QCOMPARE(numbers.first(), 0); // nothing rotated away, so nothing may be missing
    }
    qInfo("%d events acknowledged, up to number %d", acknowledgedInAll, highestAcknowledged);
    QVERIFY2(acknowledgedInAll > 200, "the writer hardly got to write: the test proved little");
}

QTEST_GUILESS_MAIN(TestJournalCrash)
#include "tst_journal_crash.moc"
