// Helper of tst_journal_crash: appends numbered events to the journal in the given folder
// in bursts, forever, and prints the number of each event once the journal reports it
// written. The test kills it at random moments.
#include "JournalTestSupport.h"
#include "journal/Journal.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {

int lastNumberIn(const QString& path)
{
    const JournalFormat::ReadBack back = readBackFile(path, 1);
    return back.events.isEmpty() ? -1 : numberOf(back.events.last());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <folder> <journal size> <seed>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    JournalSettings s(QByteArray(argv[2]).toDouble());
    QRandomGenerator random(QByteArray(argv[3]).toUInt());

    Journal journal(&s.settings, folder);
    const QList<Event> last = journal.recentEvents(1);
    int next = 1 + (last.isEmpty() ? lastNumberIn(journal.backupPath()) : numberOf(last.first()));

    // Printed on the journal's thread, right after the event is on disk.
    QObject::connect(
        &journal, &Journal::updateJournalWidget, &journal,
        [](const Event& event) {
            char line[32];
            const int n = std::snprintf(line, sizeof line, "%d\n", numberOf(event));
            if (::write(STDOUT_FILENO, line, size_t(n)) != n)
                ::_exit(3);
        },
        Qt::DirectConnection);

    for (;;) {
        const int burst = 1 + int(random.bounded(16));
        for (int i = 0; i < burst; ++i)
            journal.enqueue(numberedEvent(next++));
        QThread::usleep(random.bounded(3000));
    }
}
