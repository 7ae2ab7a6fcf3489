// journal.html on disk: creation, appends, rotation, repair of torn ends, bad files, files
// of gigabytes, a read-only folder, a journal that is a symbolic link.
#include "../common/FileSizeLimit.h"
#include "JournalTestSupport.h"
#include "journal/Journal.h"

#include <QProcess>
#include <QtTest>
#include <malloc.h>

namespace {

const QByteArray kTail = "</body>\n</html>";

// The whole-file rewrite the format was defined by: every line without a closing tag,
// then the paragraph and the closing tags.
QByteArray rewrittenWhole(const QByteArray& content, const QByteArray& paragraph)
{
    QList<QByteArray> lines = content.split('\n');
    if (content.endsWith('\n') || content.isEmpty())
        lines.removeLast();
    QByteArray result;
    for (const QByteArray& line : lines)
        if (!line.contains("</body>") && !line.contains("</html>"))
            result += line + '\n';
    return result + paragraph + '\n' + kTail;
}

// A comment line that brings a file to an exact size.
QByteArray fillerLine(int length)
{
    return "<!--" + QByteArray(qMax(0, length - 8), 'x') + "-->\n";
}

struct Folder
{
    QTemporaryDir dir;
    QString journal() const { return dir.filePath("journal.html"); }
    QString backup() const { return dir.filePath("journal_bak.html"); }
};

// Runs a journal in the folder, hands it the events, and waits until they are on disk.
QList<Event> runJournal(const Folder& folder, const QList<Event>& events, double journalSize = 1.02,
                        QList<Event>* readBack = nullptr)
{
    JournalSettings s(journalSize);
    auto journal = std::make_unique<Journal>(&s.settings, folder.dir.path());
    if (readBack)
        *readBack = journal->recentEvents(Journal::eventsKept);
    EventCollector collector;
    QObject::connect(journal.get(), &Journal::updateJournalWidget, &collector,
                     &EventCollector::updateJournalWidget, Qt::QueuedConnection);
    for (const Event& e : events)
        journal->enqueue(e);
    if (!QTest::qWaitFor([&] { return collector.events.size() == events.size(); }, 20000))
        qWarning("only %d of %d events announced", collector.events.size(), events.size());
    return collector.events; // the journal's end waits for the disk as well
}

QList<int> numbersIn(const QString& path)
{
    QList<int> numbers;
    for (const Event& e : readBackFile(path).events)
        numbers << numberOf(e);
    return numbers;
}

QList<int> range(int first, int count)
{
    QList<int> numbers;
    for (int i = 0; i < count; ++i)
        numbers << first + i;
    return numbers;
}

QByteArray paragraphLines(int first, int count)
{
    QByteArray lines;
    for (int i = first; i < first + count; ++i)
        lines += paragraphBytes(numberedEvent(i)) + '\n';
    return lines;
}

// The file is `head`, `hole` zero bytes, then `rest`, read in chunks.
bool holds(const QString& path, const QByteArray& head, qint64 hole, const QByteArray& rest)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != head.size() + hole + rest.size() ||
        file.read(head.size()) != head)
        return false;
    const QByteArray zeros(1 << 20, '\0');
    for (qint64 left = hole; left > 0;) {
        const QByteArray chunk = file.read(qMin<qint64>(left, zeros.size()));
        if (chunk.isEmpty() || chunk != zeros.left(chunk.size()))
            return false;
        left -= chunk.size();
    }
    return file.read(rest.size() + 1) == rest;
}

const char kChildFlag[] = "--journal-child";

// A journal in a process of its own (args: folder, journal size, first event number, event
// count, address space allowed above a small journal's in MiB or 0). Prints how many events
// it read back and the numbers of the first and last, then hands over the events and ends
// once they are written.
int journalChild(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 7)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const double journalSize = QByteArray(argv[3]).toDouble();
    const int first = QByteArray(argv[4]).toInt(), count = QByteArray(argv[5]).toInt();
    const long long allowedMiB = QByteArray(argv[6]).toLongLong();
    if (allowedMiB > 0 && !ORVIK_SANITIZED) {
        mallopt(M_ARENA_MAX, 1); // no 64 MiB reserve per thread
        long long small = 0;
        {
            QTemporaryDir dir;
            JournalSettings s;
            Journal journal(&s.settings, dir.path());
            EventCollector collector;
            QObject::connect(&journal, &Journal::updateJournalWidget, &collector,
                             &EventCollector::updateJournalWidget, Qt::QueuedConnection);
            journal.enqueue(numberedEvent(1));
            if (QTest::qWaitFor([&] { return !collector.events.isEmpty(); }, 10000))
                small = addressSpaceInUse();
        }
        if (small <= 0 || !limitAddressSpace(rlim_t(small + allowedMiB * 1024 * 1024)))
            return 3;
    }
    JournalSettings s(journalSize);
    Journal journal(&s.settings, folder);
    const QList<Event> back = journal.recentEvents(Journal::eventsKept);
    std::printf("%d %d %d\n", back.size(), back.isEmpty() ? -1 : numberOf(back.first()),
                back.isEmpty() ? -1 : numberOf(back.last()));
    std::fflush(stdout);
    EventCollector collector;
    QObject::connect(&journal, &Journal::updateJournalWidget, &collector,
                     &EventCollector::updateJournalWidget, Qt::QueuedConnection);
    for (int i = 0; i < count; ++i)
        journal.enqueue(numberedEvent(first + i));
    return QTest::qWaitFor([&] { return collector.events.size() == count; }, 120000) ? 0 : 1;
}

// Runs journalChild with the given arguments (as the user nobody when `unprivileged`, from
// a copy of this program that user can reach); returns its first line of output.
QByteArray runChild(const QStringList& arguments, bool unprivileged = false, QString* failure = nullptr)
{
    QTemporaryDir copyDir;
    QString program = QCoreApplication::applicationFilePath();
    QStringList args = QStringList{kChildFlag} + arguments;
    if (unprivileged && ::geteuid() == 0) {
        const QString copy = copyDir.filePath("tst_journal_file");
        QFile::setPermissions(copyDir.path(), QFileDevice::Permissions(0x7555));
        if (!QFile::copy(program, copy))
            return QByteArray();
        args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", copy} + args;
        program = "setpriv";
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, args);
    if (!child.waitForFinished(300000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        if (failure)
            *failure = QStringLiteral("child ended with status %1, code %2: %3")
                           .arg(child.exitStatus())
                           .arg(child.exitCode())
                           .arg(child.errorString());
        return QByteArray();
    }
    return child.readAllStandardOutput().trimmed();
}

} // namespace

class TestJournalFile : public QObject
{
    Q_OBJECT
private slots:
    void createsSkeletonThenAppends();
    void appendEqualsWholeRewrite_data();
    void appendEqualsWholeRewrite();
    void rotationBoundary_data();
    void rotationBoundary();
    void batchSplitsWhereTheLimitIsCrossed();
    void backupThatCannotBeWrittenKeepsJournal();
    void fileRemovedWhileRunning();
    void tornEndIsRepaired_data();
    void tornEndIsRepaired();
    void badFiles_data();
    void badFiles();
    void directoryInPlaceOfFile();
    void readBackOfTheLastFourMiB_data();
    void readBackOfTheLastFourMiB();
    void gigabyteJournals_data();
    void gigabyteJournals();
    void readOnlyFolder_data();
    void readOnlyFolder();
    void symbolicLink_data();
    void symbolicLink();
};

void TestJournalFile::createsSkeletonThenAppends()
{
    Folder folder;
    {
        JournalSettings s;
        Journal journal(&s.settings, folder.dir.path());
        QCOMPARE(readFile(folder.journal()), JournalFormat::createdSkeleton());
        QCOMPARE(readFile(folder.journal()).count('\n'), 4); // five lines, none after the last
    }
    const Event first = numberedEvent(1), second = numberedEvent(2, false);
    runJournal(folder, {first});
    const QByteArray head = JournalFormat::createdSkeleton().chopped(kTail.size());
    QCOMPARE(readFile(folder.journal()), head + paragraphBytes(first) + '\n' + kTail);
    runJournal(folder, {second});
    QCOMPARE(readFile(folder.journal()),
             head + paragraphBytes(first) + '\n' + paragraphBytes(second) + '\n' + kTail);
    QVERIFY(!QFile::exists(folder.backup()));
}

void TestJournalFile::appendEqualsWholeRewrite_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray p1 = paragraphBytes(numberedEvent(5)), p2 = paragraphBytes(numberedEvent(6));
    QTest::newRow("created skeleton") << JournalFormat::createdSkeleton();
    QTest::newRow("rotated skeleton") << JournalFormat::rotatedSkeleton();
    QTest::newRow("closing tags only") << kTail;
    QTest::newRow("paragraphs") << "<html>\n<body>\n" + p1 + '\n' + p2 + '\n' + kTail;
    QTest::newRow("other lines kept") << "<html>\n<body>\n<!-- note -->\n\n" + p1 + "\n<h>x</h>\n" + kTail;
}

void TestJournalFile::appendEqualsWholeRewrite()
{
    QFETCH(QByteArray, content);
    Folder folder;
    QVERIFY(writeFile(folder.journal(), content));
    const Event e = numberedEvent(77);
    runJournal(folder, {e});
    QCOMPARE(readFile(folder.journal()), rewrittenWhole(content, paragraphBytes(e)));
}

void TestJournalFile::rotationBoundary_data()
{
    QTest::addColumn<qint64>("sizeAfterAppend");
    QTest::addColumn<bool>("rotates");
    QTest::newRow("exactly 1 MiB stays") << qint64(1048576) << false;
    QTest::newRow("one byte more rotates") << qint64(1048577) << true;
    QTest::newRow("well below") << qint64(1000) << false;
}

void TestJournalFile::rotationBoundary()
{
    QFETCH(qint64, sizeAfterAppend);
    QFETCH(bool, rotates);
    Folder folder;
    const Event e = numberedEvent(3), next = numberedEvent(4);
    const QByteArray head = "<html>\n<body>\n";
    const int fill = int(sizeAfterAppend - head.size() - (paragraphBytes(e).size() + 1) - kTail.size());
    const QByteArray before = head + fillerLine(fill) + kTail;
    QVERIFY(writeFile(folder.journal(), before));

    runJournal(folder, {e}, 1.0);
    const QByteArray afterAppend = rewrittenWhole(before, paragraphBytes(e));
    QCOMPARE(afterAppend.size(), sizeAfterAppend);
    if (!rotates) {
        QCOMPARE(readFile(folder.journal()), afterAppend);
        QVERIFY(!QFile::exists(folder.backup()));
        return;
    }
    // The paragraph that went over the limit is the last one in the backup.
    QCOMPARE(readFile(folder.backup()), afterAppend + '\n');
    QCOMPARE(readFile(folder.journal()), JournalFormat::rotatedSkeleton());
    QCOMPARE(readFile(folder.journal()).count('\n'), 3);
    runJournal(folder, {next}, 1.0);
    QCOMPARE(readFile(folder.journal()), head + paragraphBytes(next) + '\n' + kTail);
}

void TestJournalFile::batchSplitsWhereTheLimitIsCrossed()
{
    // Five events handed over at once; the third takes the file over the limit.
    Folder folder;
    QList<Event> events;
    int paragraphs = 0;
    for (int i = 0; i < 5; ++i) {
        events << numberedEvent(100 + i);
        if (i < 2)
            paragraphs += paragraphBytes(events.last()).size() + 1;
    }
    const QByteArray head = "<html>\n<body>\n";
    const int fill = int(1048576 - head.size() - paragraphs - kTail.size()) - 5;
    QVERIFY(writeFile(folder.journal(), head + fillerLine(fill) + kTail));
    runJournal(folder, events, 1.0);

    const JournalFormat::ReadBack backup = readBackFile(folder.backup());
    const JournalFormat::ReadBack journal = readBackFile(folder.journal());
    QCOMPARE(backup.events.size(), 3);
    QCOMPARE(numberOf(backup.events.last()), 102);
    QCOMPARE(journal.events.size(), 2);
    QCOMPARE(numberOf(journal.events.first()), 103);
    QCOMPARE(readFile(folder.journal()),
             head + paragraphBytes(events[3]) + '\n' + paragraphBytes(events[4]) + '\n' + kTail);
}

void TestJournalFile::backupThatCannotBeWrittenKeepsJournal()
{
    Folder folder;
    QVERIFY(QDir(folder.dir.path()).mkdir("journal_bak.html"));
    const QByteArray head = "<html>\n<body>\n";
    const QByteArray big = head + fillerLine(1100000) + kTail;
    QVERIFY(writeFile(folder.journal(), big));
    runJournal(folder, {numberedEvent(1), numberedEvent(2)}, 1.0);
    // No rotation: nothing is lost, and the next event tries again.
    const QByteArray after = readFile(folder.journal());
    QVERIFY(after.startsWith(head + fillerLine(1100000)));
    QCOMPARE(readBackFile(folder.journal()).events.size(), 2);
    QVERIFY(QFileInfo(folder.backup()).isDir());
    QVERIFY(!QFile::exists(folder.dir.filePath("journal.html.tmp")));
    QVERIFY(!QFile::exists(folder.dir.filePath("journal_bak.html.tmp")));
}

void TestJournalFile::fileRemovedWhileRunning()
{
    Folder folder;
    JournalSettings s;
    Journal journal(&s.settings, folder.dir.path());
    EventCollector collector;
    QObject::connect(&journal, &Journal::updateJournalWidget, &collector,
                     &EventCollector::updateJournalWidget, Qt::QueuedConnection);
    journal.enqueue(numberedEvent(1));
    QTRY_COMPARE(collector.events.size(), 1);
    QVERIFY(QFile::remove(folder.journal()));
    journal.enqueue(numberedEvent(2));
    QTRY_COMPARE(collector.events.size(), 2);
    QCOMPARE(readFile(folder.journal()), paragraphBytes(numberedEvent(2)) + '\n' + kTail);
}

void TestJournalFile::tornEndIsRepaired_data()
{
    // What a crash leaves when it cuts the append short: the old end overwritten by the start
    // of the new text (after a kill), or the new text followed by zeros (after a power cut).
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expected"); // after one more append of `next`
    QTest::addColumn<int>("readBack");

    const QByteArray kept = "<html>\n<body>\n" + paragraphBytes(numberedEvent(1)) + '\n' +
                            paragraphBytes(numberedEvent(2)) + '\n';
    const QByteArray old = kept + kTail;
    const QByteArray p3 = paragraphBytes(numberedEvent(3)), p4 = paragraphBytes(numberedEvent(4));
    const QByteArray next = paragraphBytes(numberedEvent(9));

    for (int batch = 1; batch <= 2; ++batch) {
        const QByteArray written = (batch == 1 ? p3 + '\n' : p3 + '\n' + p4 + '\n') + kTail;
        for (int k = 0; k < written.size(); ++k) {
            QByteArray killed = kept + written.left(k);
            if (k < kTail.size())
                killed += old.mid(kept.size() + k);
            const QByteArray zeroed = kept + written.left(k) + QByteArray(written.size() - k, '\0');
            // Complete paragraphs of the cut write stay; a torn one and torn tags go.
            QByteArray survivors;
            int complete = 0;
            if (k >= p3.size()) {
                survivors += p3 + '\n';
                ++complete;
            }
            if (batch == 2 && k >= p3.size() + 1 + p4.size()) {
                survivors += p4 + '\n';
                ++complete;
            }
            const QByteArray expected = kept + survivors + next + '\n' + kTail;
            QTest::addRow("batch %d, killed after %d bytes", batch, k) << killed << expected << 2 + complete;
            if (k % 7 == 0 || k > written.size() - 20)
                QTest::addRow("batch %d, power cut after %d bytes", batch, k)
                    << zeroed << expected << 2 + complete;
        }
    }
}

void TestJournalFile::tornEndIsRepaired()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expected);
    QFETCH(int, readBack);
    Folder folder;
    QVERIFY(writeFile(folder.journal(), content));
    QList<Event> atStart;
    runJournal(folder, {numberedEvent(9)}, 1.02, &atStart);
    QCOMPARE(atStart.size(), readBack);
    QCOMPARE(readFile(folder.journal()), expected);
    const JournalFormat::ReadBack after = readBackFile(folder.journal());
    QVERIFY(after.complete);
    QCOMPARE(after.events.size(), readBack + 1);
}

void TestJournalFile::badFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("readBack");        // events read at start
    QTest::addColumn<QByteArray>("keptHead"); // the file must still start with this after an append
    QTest::addColumn<bool>("rotates");

    const QByteArray p1 = paragraphBytes(numberedEvent(1)), p2 = paragraphBytes(numberedEvent(2));
    const char binaryBytes[] = "\x7f"
                               "ELF\x02\x01\x01\x00\x00\xff\xfe\x80\x98\x0d\x0a\x00\x01<h>\x9c";
    const QByteArray binary(binaryBytes, sizeof binaryBytes - 1);
    QTest::newRow("empty") << QByteArray() << 0 << QByteArray() << false;
    QTest::newRow("binary") << binary << 0 << binary << false;
    QTest::newRow("truncated mid-paragraph")
        << "<html>\n<body>\n" + p1 + '\n' + p2.left(40) << 1 << "<html>\n<body>\n" + p1 + '\n'
        << false;
    const QByteArray utf8 = "<html>\n<body>\n" + JournalFormat::decode(p1).toUtf8() + "\n</body>\n</html>";
    QTest::newRow("utf-8") << utf8 << 1 << utf8.left(utf8.size() - kTail.size()) << false;
    const QByteArray crlf = "<html>\r\n<body>\r\n" + p1 + "\r\n" + p2 + "\r\n</body>\r\n</html>";
    QTest::newRow("windows line ends")
        << crlf << 2 << QByteArray("<html>\r\n<body>\r\n" + p1 + "\r\n" + p2 + "\r\n") << false;
    QTest::newRow("closing tags in the middle")
        << "<html>\n<body>\n" + p1 + "\n</body>\n</html>\n" + p2 + '\n' + kTail << 2
        << QByteArray("<html>\n<body>\n" + p1 + '\n') << false;
    QByteArray many = "<html>\n<body>\n";
    for (int i = 0; i < 100000; ++i)
        many += paragraphBytes(numberedEvent(i)) + '\n';
    many += kTail;
    QTest::newRow("100 000 paragraphs") << many << 100000 << many.left(many.size() - kTail.size()) << true;
}

void TestJournalFile::badFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, readBack);
    QFETCH(QByteArray, keptHead);
    QFETCH(bool, rotates);
    Folder folder;
    QVERIFY(writeFile(folder.journal(), content));
    QList<Event> atStart;
    const Event added = numberedEvent(123456);
    runJournal(folder, {added}, 1.02, &atStart);
    QCOMPARE(atStart.size(), qMin(readBack, Journal::eventsKept));

    const QString holder = rotates ? folder.backup() : folder.journal();
    const QByteArray after = readFile(holder);
    QVERIFY2(after.startsWith(keptHead), "the readable content is kept");
    const JournalFormat::ReadBack back = readBackFile(holder);
    QCOMPARE(back.total, readBack + 1);
    QCOMPARE(back.events.last(),
             JournalFormat::readBack(paragraphBytes(added), AlarmThresholds(), 1).events[0]);
    if (rotates)
        QCOMPARE(readFile(folder.journal()), JournalFormat::rotatedSkeleton());
}

void TestJournalFile::directoryInPlaceOfFile()
{
    Folder folder;
    QVERIFY(QDir(folder.dir.path()).mkdir("journal.html"));
    // Announced, kept in memory, not written; nothing breaks.
    const QList<Event> announced = runJournal(folder, {numberedEvent(1), numberedEvent(2)});
    QCOMPARE(announced.size(), 2);
    QVERIFY(QFileInfo(folder.journal()).isDir());
    QVERIFY(!QFile::exists(folder.backup()));
    JournalSettings s;
    Journal journal(&s.settings, folder.dir.path());
    QCOMPARE(journal.recentEvents(10).size(), 0);
}

void TestJournalFile::readBackOfTheLastFourMiB_data()
{
    // Paragraph 0 first, a filler line, paragraphs 1 to 3 last; the file's size decides
    // where the last 4 MiB begin.
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("readBack");
    const qint64 window = 4 * 1024 * 1024;
    QTest::newRow("4 MiB: all of it") << window << QList<int>{0, 1, 2, 3};
    QTest::newRow("begins at the first paragraph") << window + 14 << QList<int>{0, 1, 2, 3};
    QTest::newRow("first paragraph cut") << window + 15 << QList<int>{1, 2, 3};
}

void TestJournalFile::readBackOfTheLastFourMiB()
{
    QFETCH(qint64, size);
    QFETCH(QList<int>, readBack);
    Folder folder;
    const QByteArray head = "<html>\n<body>\n"; // 14 bytes: paragraph 0 starts right after
    const QByteArray first = paragraphLines(0, 1), last = paragraphLines(1, 3) + kTail;
    QVERIFY(
        writeFile(folder.journal(),
                  head + first + fillerLine(int(size) - head.size() - first.size() - last.size()) + last));
    QCOMPARE(QFileInfo(folder.journal()).size(), size);
    QList<Event> atStart;
    runJournal(folder, {numberedEvent(4)}, 250, &atStart);
    QList<int> numbers;
    for (const Event& e : atStart)
        numbers << numberOf(e);
    QCOMPARE(numbers, readBack);
    QCOMPARE(numbersIn(folder.journal()), range(0, 5));
}

void TestJournalFile::gigabyteJournals_data()
{
    // A short head, a hole, 3000 paragraphs and an end: intact, or torn by a crash.
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("end");
    QTest::newRow("1 GiB") << (qint64(1) << 30) << kTail;
    QTest::newRow("2 GiB") << (qint64(2) << 30) << kTail;
    QTest::newRow("1 GiB, torn end") << (qint64(1) << 30) << paragraphBytes(numberedEvent(3000)).left(40);
}

void TestJournalFile::gigabyteJournals()
{
    QFETCH(qint64, size);
    QFETCH(QByteArray, end);
    Folder folder;
    const QByteArray head = "<html>\n<body>\n";
    const QByteArray paragraphs = paragraphLines(0, 3000);
    const qint64 hole = size - head.size() - paragraphs.size() - end.size();
    {
        QFile file(folder.journal());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(head) == head.size());
        QVERIFY(file.resize(head.size() + hole) && file.seek(head.size() + hole));
        QVERIFY(file.write(paragraphs + end) == paragraphs.size() + end.size());
    }
    // Read back and written in a process whose memory is capped 64 MiB above a small
    // journal's; the first event goes over the size limit and rotates.
    QString failure;
    const QByteArray printed = runChild({folder.dir.path(), "1.02", "5000", "2", "64"}, false, &failure);
    QVERIFY2(!printed.isEmpty(), qPrintable(failure));
    QCOMPARE(printed, QByteArray("3000 0 2999"));
    const QByteArray backupEnd = paragraphs + paragraphLines(5000, 1) + kTail + '\n';
    QVERIFY2(holds(folder.backup(), head, hole, backupEnd), "journal_bak.html holds all of the old journal");
    QCOMPARE(readFile(folder.journal()), "<html>\n<body>\n" + paragraphLines(5001, 1) + kTail);
}

void TestJournalFile::readOnlyFolder_data()
{
    // Writable files in a folder that takes no new file.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("rotates"); // with journal_bak.html there and a limit of 10 KiB
    const QByteArray head = "<html>\n<body>\n", old = paragraphLines(0, 5);
    const QByteArray filler = fillerLine(9000);
    QTest::newRow("line break after the end") << head + old + kTail + '\n' << false;
    QTest::newRow("closing tags twice") << head + old + kTail + '\n' + kTail << false;
    QTest::newRow("rotation") << head + filler + old + kTail << true;
    QTest::newRow("line break after the end, rotation") << head + filler + old + kTail + "\n\n" << true;
}

void TestJournalFile::readOnlyFolder()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, rotates);
    Folder folder;
    const QFileDevice::Permissions writable(0x6666), readOnlyFolder(0x5555);
    QVERIFY(writeFile(folder.journal(), content) && QFile::setPermissions(folder.journal(), writable));
    if (rotates)
        QVERIFY(writeFile(folder.backup(), "old") && QFile::setPermissions(folder.backup(), writable));
    QVERIFY(QFile::setPermissions(folder.dir.path(), readOnlyFolder));
    QString failure;
    const QByteArray printed =
        runChild({folder.dir.path(), rotates ? "0.01" : "250", "5", "20", "0"}, true, &failure);
    QFile::setPermissions(folder.dir.path(), QFileDevice::Permissions(0x7755));
    QCOMPARE(printed, QByteArray("5 0 4"));
    QCOMPARE(QDir(folder.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), rotates ? 2 : 1);
    // Every event is in the files, in order.
    const QList<int> backup = numbersIn(folder.backup()), journal = numbersIn(folder.journal());
    QCOMPARE(backup + journal, range(0, 25));
    QVERIFY(readFile(folder.journal()).endsWith("\n" + kTail));
    if (rotates) {
        QVERIFY(!backup.isEmpty() && !journal.isEmpty());
        QVERIFY(
            readFile(folder.journal()).startsWith(JournalFormat::rotatedSkeleton().chopped(kTail.size())));
        QVERIFY(readFile(folder.backup()).startsWith("<html>\n<body>\n" + fillerLine(9000)));
    }
}

void TestJournalFile::symbolicLink_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<double>("journalSize");
    const QByteArray head = "<html>\n<body>\n", old = paragraphLines(0, 5);
    QTest::newRow("repair") << head + old + kTail + '\n' << 250.0;
    QTest::newRow("rotation") << head + old + kTail << 0.0005; // over it, but not after the rotation
}

void TestJournalFile::symbolicLink()
{
    QFETCH(QByteArray, content);
    QFETCH(double, journalSize);
    Folder folder;
    QVERIFY(QDir(folder.dir.path()).mkdir("elsewhere"));
    const QString target = folder.dir.filePath("elsewhere/journal-target.html");
    QVERIFY(writeFile(target, content));
    QVERIFY(QFile::link("elsewhere/journal-target.html", folder.journal()));
    runJournal(folder, {numberedEvent(5)}, journalSize);
    runJournal(folder, {numberedEvent(6)}, journalSize);
    QVERIFY(QFileInfo(folder.journal()).isSymLink());
    QCOMPARE(QFileInfo(folder.journal()).symLinkTarget(), QFileInfo(target).absoluteFilePath());
    QCOMPARE(numbersIn(folder.backup()) + numbersIn(target), range(0, 7));
}

int main(int argc, char* argv[])
{
    if (argc > 1 && qstrcmp(argv[1], kChildFlag) == 0)
        return journalChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestJournalFile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_journal_file.moc"
