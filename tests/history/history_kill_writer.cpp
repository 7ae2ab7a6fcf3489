// Helper of tst_history_kill: records sweeps 3 s apart from the given start time as fast
// as it can, its clock running with the sweeps so hours roll up meanwhile, and prints the
// time of each sweep once it is committed. The test kills it at random moments.
#include "HistoryTestSupport.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <history file> <first sweep, ms since epoch> <seed>\n", argv[0]);
        return 2;
    }
    const qint64 start = QByteArray(argv[2]).toLongLong();
    QRandomGenerator random(QByteArray(argv[3]).toUInt());
    std::atomic<qint64> latest{start};

    HistoryRecorder::Options options;
    options.idleMs = 20;
    HistoryRecorder recorder(
        QString::fromLocal8Bit(argv[1]), [&latest] { return latest.load(); }, options);
    // Printed on the writer thread, right after the commit.
    QObject::connect(
        &recorder, &HistoryRecorder::sweepsCommitted, &recorder,
        [](const QVector<qint64>& times) {
            QByteArray lines;
            for (qint64 t : times)
                lines += QByteArray::number(t) + '\n';
            if (::write(STDOUT_FILENO, lines.constData(), size_t(lines.size())) != lines.size())
                ::_exit(3);
        },
        Qt::DirectConnection);

    for (qint64 t = start;;) {
        const int burst = 1 + int(random.bounded(40));
        for (int i = 0; i < burst; ++i, t += 3000) {
            latest = t;
            recorder.record(makeSweep(t));
        }
        // Keep within the queue, so nothing is dropped unprinted.
        recorder.waitUntilWritten(10000);
        if (random.bounded(4) == 0)
            QThread::usleep(random.bounded(2000));
    }
}
