// A recorder killed with SIGKILL at random moments, while it writes and rolls up: the file
// opens and passes quick_check every time, every sweep reported committed reads back with
// its readings, and the minutes and hours agree with the sweeps they come from.
#include "HistoryTestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <csignal>

class TestHistoryKill : public QObject
{
    Q_OBJECT
private slots:
    void killedAtRandomMoments();
};

void TestHistoryKill::killedAtRandomMoments()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    const QString path = historyPath(dir.path());
    const qint64 base = utc("2026-03-01T00:00:00.000");
    const qint64 roundSpacing = 6 * HistoryTime::hour;
    const int rounds = 20;
    QSet<qint64> acknowledged;

    for (int round = 0; round < rounds; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QStringLiteral(HISTORY_KILL_WRITER), {path, QString::number(base + round * roundSpacing),
                                                           QString::number(seed + quint32(round))});
        QVERIFY(writer.waitForStarted(10000));
        // Mostly while it writes; now and then while it opens the file.
        if (round % 5 != 4)
            QVERIFY(writer.waitForReadyRead(30000));
        QThread::msleep(random.bounded(250));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(10000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

        // Only whole lines count: the last one may have been cut by the kill.
        const QByteArray output = writer.readAllStandardOutput();
        for (const QByteArray& line : output.left(output.lastIndexOf('\n') + 1).split('\n')) {
            if (!line.isEmpty())
                acknowledged.insert(line.toLongLong());
        }
        QCOMPARE(quickCheck(path), QStringLiteral("ok"));
        QVERIFY2(QDir(dir.path()).entryList({"history.sqlite.broken-*"}).isEmpty(),
                 "a sound file was set aside");
    }
    qInfo("%d sweeps acknowledged", int(acknowledged.size()));
    QVERIFY2(acknowledged.size() > 1000, "the writer hardly got to write: the test proved little");

    const qint64 from = base;
    const qint64 to = base + rounds * roundSpacing + 7 * HistoryTime::day;
    HistoryQuery query(path);
    const HistorySeries raw = query.series(7, from, to, HistoryResolution::Raw);
    QVERIFY2(query.lastError().isEmpty(), qPrintable(query.lastError()));
    QHash<qint64, double> stored;
    for (const HistoryPoint& p : raw.points)
        stored.insert(p.msecs, p.vMean);
    for (qint64 t : qAsConst(acknowledged)) {
        QVERIFY2(stored.contains(t), qPrintable(QString("sweep at %1 acknowledged but not on disk").arg(t)));
        QCOMPARE(qRound64(stored.value(t) * 1000), qRound64(voltageAt(t, 7) * 1000));
    }

    // Rolled up or not, minutes and hours say what the sweeps say.
    for (qint64 slot : {HistoryTime::minute, HistoryTime::hour}) {
        QMap<qint64, QVector<qint64>> bySlot;
        for (const HistoryPoint& p : raw.points)
            bySlot[HistoryTime::slotStart(p.msecs, slot)].append(qRound64(p.vMean * 1000));
        const HistorySeries coarse = query.series(
            7, from, to, slot == HistoryTime::minute ? HistoryResolution::Minute : HistoryResolution::Hour);
        QCOMPARE(coarse.points.size(), bySlot.size());
        int i = 0;
        for (auto it = bySlot.cbegin(); it != bySlot.cend(); ++it, ++i) {
            const HistoryPoint& p = coarse.points[i];
            QCOMPARE(p.msecs, it.key());
            const QVector<qint64>& mv = it.value();
            const qint64 mean =
                std::llround(double(std::accumulate(mv.begin(), mv.end(), qint64(0))) / double(mv.size()));
            QCOMPARE(qRound64(p.vMean * 1000), mean);
            QCOMPARE(qRound64(p.vMin * 1000), *std::min_element(mv.begin(), mv.end()));
            QCOMPARE(qRound64(p.vMax * 1000), *std::max_element(mv.begin(), mv.end()));
        }
    }
}

QTEST_GUILESS_MAIN(TestHistoryKill)
#include "tst_history_kill.moc"
