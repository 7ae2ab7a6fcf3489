// The disk fills while the journal writes (a file-size limit stands in for it): the file stays
// whole, the refused events wait, and once there is room again every event is on disk, in order.
#include "../common/FileSizeLimit.h"
#include "JournalTestSupport.h"
#include "journal/Journal.h"

#include <QSignalSpy>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {

// Numbers of the events in the backup followed by the journal.
QList<int> numbersOnDisk(const QString& folder)
{
    QList<int> numbers;
    for (const char* name : {"journal_bak.html", "journal.html"}) {
        for (const Event& e : readBackFile(QDir(folder).filePath(name)).events) {
            const int n = numberOf(e);
            if (numbers.contains(n))
                continue; // a rotation interrupted between its two steps may repeat a file
            numbers.append(n);
        }
    }
    return numbers;
}

QList<int> range(int first, int last)
{
    QList<int> r;
    for (int n = first; n <= last; ++n)
        r.append(n);
    return r;
}

} // namespace

class TestJournalFullDisk : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    void eventsWaitForRoom_data();
    void eventsWaitForRoom();
};

void TestJournalFullDisk::initTestCase()
{
    // Past the limit a write fails with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

void TestJournalFullDisk::eventsWaitForRoom_data()
{
    QTest::addColumn<double>("journalSize");
    QTest::addColumn<int>("roomBytes"); // beyond the file's size when the disk fills
    QTest::newRow("not one byte more") << 1.0 << 0;
    QTest::newRow("room for half a paragraph") << 1.0 << 150;
    QTest::newRow("room for three paragraphs") << 1.0 << 900;
    QTest::newRow("full when the journal must rotate") << 0.002 << 0;
}

void TestJournalFullDisk::eventsWaitForRoom()
{
    QFETCH(double, journalSize);
    QFETCH(int, roomBytes);
    QTemporaryDir dir;
    JournalSettings s(journalSize);
    EventCollector shown;
    auto journal = std::make_unique<Journal>(&s.settings, dir.path());
    QSignalSpy trouble(journal.get(), &Journal::fileWriteTrouble);
    connect(journal.get(), &Journal::updateJournalWidget, &shown, &EventCollector::updateJournalWidget);

    for (int n = 1; n <= 5; ++n)
        journal->enqueue(numberedEvent(n));
    QTRY_COMPARE(shown.events.size(), 5);
    QCOMPARE(numbersOnDisk(dir.path()), range(1, 5));

    const qint64 size = QFileInfo(journal->filePath()).size();
    QVERIFY(limitFileSize(rlim_t(size + roomBytes)));
    for (int n = 6; n <= 20; ++n)
        journal->enqueue(numberedEvent(n));
    QTRY_COMPARE(shown.events.size(), 20); // the page shows them all the same
    QTRY_COMPARE(trouble.count(), 1);
    QCOMPARE(trouble.last().at(0).toBool(), true);

    // Whatever is on disk is whole and in order, and the journal keeps going.
    const QList<int> partial = numbersOnDisk(dir.path());
    QVERIFY(!partial.isEmpty());
    QCOMPARE(partial, range(partial.first(), partial.last()));
    QVERIFY(partial.size() < 20);

    QVERIFY(limitFileSize(RLIM_INFINITY));
    journal->enqueue(numberedEvent(21));
    QTRY_COMPARE(trouble.count(), 2);
    QCOMPARE(trouble.last().at(0).toBool(), false);
    journal.reset();

    const QList<int> all = numbersOnDisk(dir.path());
    if (journalSize >= 0.01) {
        QCOMPARE(all, range(1, 21));
    } else {
        // Rotating: the newest stretch is kept, without a gap, up to the last event.
        QVERIFY2(!all.isEmpty() && all.last() == 21, qPrintable(QString::number(all.size())));
        QCOMPARE(all, range(all.first(), 21));
    }
}

QTEST_GUILESS_MAIN(TestJournalFullDisk)
#include "tst_journal_full_disk.moc"
