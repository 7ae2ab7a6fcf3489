// A recorder killed with SIGKILL at random moments while it writes and rolls up: the file
// passes quick_check every time, every sweep reported committed reads back with its readings,
// and the minutes and hours agree with the sweeps they come from.
#include "HistoryTestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <unistd.h>

namespace {

const char kChildFlag[] = "--recorder-child";

// Records sweeps 3 s apart from the given start as fast as it can, its clock running with the
// sweeps so hours roll up meanwhile, and prints each sweep's time once it is committed.
int recorderChild(char* argv[])
{
    const qint64 start = QByteArray(argv[3]).toLongLong();
    QRandomGenerator random(QByteArray(argv[4]).toUInt());
    std::atomic<qint64> latest{start};
    HistoryRecorder::Options options;
    options.idleMs = 20;
    HistoryRecorder recorder(
        QString::fromLocal8Bit(argv[2]), [&latest] { return latest.load(); }, options);
    QObject::connect(
        &recorder, &HistoryRecorder::sweepsCommitted, &recorder,
        [](const QVector<qint64>& times) {
            QByteArray lines;
            for (qint64 t : times)
                lines += QByteArray::number(t) + '\n';
            if (::write(STDOUT_FILENO, lines.constData(), size_t(lines.size())) != lines.size())
                ::_exit(3);
        },
        Qt::DirectConnection); // on the writer's thread, right after the commit
    for (qint64 t = start;;) {
        for (int i = 1 + int(random.bounded(40)); i > 0; --i, t += 3000) {
            latest = t;
            recorder.record(makeSweep(t));
        }
        recorder.waitUntilWritten(10000); // within the queue, so nothing is dropped unprinted
        if (random.bounded(4) == 0)
            QThread::usleep(random.bounded(2000));
    }
}

} // namespace

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
    const QString path = dir.filePath("history.sqlite");
    const qint64 base = utc("2026-03-01T00:00:00.000"), roundSpacing = 6 * HistoryTime::hour;
    const int rounds = 20;
    QSet<qint64> acknowledged;
    for (int round = 0; round < rounds; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(
            QCoreApplication::applicationFilePath(),
            {kChildFlag, path, QString::number(base + round * roundSpacing), QString::number(seed + round)});
        QVERIFY(writer.waitForStarted(10000));
        if (round % 5 != 4) // mostly while it writes, now and then while it opens the file
            QVERIFY(writer.waitForReadyRead(30000));
        QThread::msleep(random.bounded(250));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(10000));
        // Only whole lines count: the last one may have been cut by the kill.
        const QByteArray output = writer.readAllStandardOutput();
        for (const QByteArray& line : output.left(output.lastIndexOf('\n') + 1).split('\n'))
            if (!line.isEmpty())
                acknowledged.insert(line.toLongLong());
        QCOMPARE(quickCheck(path), QString("ok"));
        QVERIFY2(QDir(dir.path()).entryList({"history.sqlite.broken-*"}).isEmpty(),
                 "a sound file was set aside");
    }
    QVERIFY2(acknowledged.size() > 1000, "the writer hardly got to write: the test proved little");

    const qint64 to = base + rounds * roundSpacing + 7 * HistoryTime::day;
    HistoryQuery query(path);
    const HistorySeries raw = query.series(7, base, to, HistoryResolution::Raw);
    QVERIFY2(query.lastError().isEmpty(), qPrintable(query.lastError()));
    QVector<HistorySweep> sweeps;
    for (const HistoryPoint& p : raw.points)
        sweeps << HistorySweep{p.msecs, {HistoryReading{7, p.vMean, p.tMean, p.missing}}};
    QHash<qint64, double> stored;
    for (const HistoryPoint& p : raw.points)
        stored.insert(p.msecs, p.vMean);
    for (qint64 t : qAsConst(acknowledged)) {
        QVERIFY2(stored.contains(t), qPrintable(QString("sweep at %1 acknowledged but not on disk").arg(t)));
        QCOMPARE(qRound64(stored.value(t) * 1000), qRound64(voltageAt(t, 7) * 1000));
    }
    // Rolled up or not, minutes and hours say what the sweeps say.
    for (qint64 slot : {HistoryTime::minute, HistoryTime::hour})
        QCOMPARE(pointsRead(query.series(7, base, to,
                                         slot == HistoryTime::minute ? HistoryResolution::Minute
                                                                     : HistoryResolution::Hour)),
                 expectedPoints(sweeps, 7, slot));
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], kChildFlag) == 0)
        return recorderChild(argv);
    TestHistoryKill test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_history_kill.moc"
