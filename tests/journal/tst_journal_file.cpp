// journal.html on disk: creation, appends, rotation, repair of torn ends, bad files, folders
// in the way, a symbolic link, the last 4 MiB read back, files of gigabytes under a memory
// cap, a read-only folder, a full disk, and a writer killed at random moments.
#include "../common/FileSizeLimit.h"
#include "JournalTestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <malloc.h>

namespace {

const char kChildFlag[] = "--journal-child";

// A comment line that brings a file to an exact size.
QByteArray filler(qint64 length)
{
    return "<!--" + QByteArray(int(qMax<qint64>(0, length - 8)), 'x') + "-->\n";
}

// The whole-file rewrite the format was defined by: every line without a closing tag, then
// the paragraphs and the closing tags.
QByteArray rewritten(const QByteArray& content, const QByteArray& paragraphs)
{
    QList<QByteArray> lines = content.split('\n');
    if (content.endsWith('\n') || content.isEmpty())
        lines.removeLast();
    QByteArray result;
    for (const QByteArray& line : lines)
        if (!line.contains("</body>") && !line.contains("</html>"))
            result += line + '\n';
    return result + paragraphs + kTail;
}

// A journal in a process of its own (args: folder, journal size, first event number, event
// count or -1 for bursts without end, address space allowed above a small journal's in MiB
// or 0). Prints how many events it read back with the first and last number, then the
// number of every event once it is on disk.
int journalChild(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 7)
        return 2;
    const long long allowedMiB = QByteArray(argv[6]).toLongLong();
    if (allowedMiB > 0 && !ORVIK_SANITIZED) {
        mallopt(M_ARENA_MAX, 1); // no 64 MiB reserve per thread
        long long small = 0;
        {
            QTemporaryDir dir;
            RunningJournal j(dir.path());
            if (j.add({numberedEvent(1)}))
                small = addressSpaceInUse();
        }
        if (small <= 0 || !limitAddressSpace(rlim_t(small + allowedMiB * 1024 * 1024)))
            return 3;
    }
    RunningJournal j(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toDouble());
    const QList<Event> back = j.journal->recentEvents(Journal::eventsKept);
    std::printf("%d %d %d\n", back.size(), back.isEmpty() ? -1 : numberOf(back.first()),
                back.isEmpty() ? -1 : numberOf(back.last()));
    std::fflush(stdout);
    QObject::connect(
        j.journal.get(), &Journal::updateJournalWidget, j.journal.get(),
        [](const Event& e) {
            const QByteArray line = QByteArray::number(numberOf(e)) + '\n';
            if (::write(STDOUT_FILENO, line.constData(), size_t(line.size())) != line.size())
                ::_exit(3);
        },
        Qt::DirectConnection); // on the journal's thread, right after the write
    int first = QByteArray(argv[4]).toInt();
    const int count = QByteArray(argv[5]).toInt();
    if (count >= 0)
        return j.add(numberedEvents(first, count)) ? 0 : 1;
    const QList<int> onDisk = numbersOnDisk(argv[2]);
    first = onDisk.isEmpty() ? 0 : onDisk.last() + 1;
    for (QRandomGenerator random{quint32(first)};;) {
        const int burst = 1 + int(random.bounded(16));
        for (const Event& e : numberedEvents(first, burst))
            j.journal->enqueue(e);
        first += burst;
        QThread::usleep(random.bounded(3000));
    }
}

// Runs journalChild (as the user nobody when `unprivileged`, from a copy of this program that
// user can reach); returns its first line of output, empty when it failed.
QByteArray runChild(const QStringList& arguments, bool unprivileged = false)
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
    const bool done = child.waitForFinished(300000) && child.exitStatus() == QProcess::NormalExit;
    if (!done || child.exitCode() != 0)
        qWarning("child ended with code %d: %s", child.exitCode(), qPrintable(child.errorString()));
    return done && child.exitCode() == 0 ? child.readAllStandardOutput().split('\n').value(0) : QByteArray();
}

} // namespace

class TestJournalFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a full disk fails writes with EFBIG
    void appends_data();
    void appends();
    void fileRemovedWhileRunning();
    void fullDisk_data();
    void fullDisk();
    void killedAtRandomMoments_data();
    void killedAtRandomMoments();
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    // In a child process under limits of its own.
    void gigabyteJournals_data();
    void gigabyteJournals();
    void readOnlyFolder_data();
    void readOnlyFolder();
};

void TestJournalFile::appends_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<QString>("setup");     // something in the way
    QTest::addColumn<double>("limit");      // MiB
    QTest::addColumn<int>("added");         // events numbered from 1000, handed over together
    QTest::addColumn<QList<int>>("atStart");
    QTest::addColumn<QByteArray>("journal"); // afterwards; null for no file
    QTest::addColumn<QByteArray>("backup");
    const auto row = [](const QString& name, const QByteArray& before, int added, const QList<int>& atStart,
                        const QByteArray& journal, const QByteArray& backup = QByteArray(),
                        double limit = 1.02, const QString& setup = QString()) {
        QTest::newRow(qPrintable(name)) << before << setup << limit << added << atStart << journal << backup;
    };
    const QByteArray style =
        "<style>h {font-family: Times New Roman;font-weight: bold;font-size: 14pt;}</style>\n";
    const QByteArray p = paragraphLines(1000, 1), p2 = paragraphLines(1000, 2), old = paragraphLines(0, 5);
    row("created", QByteArray(), 0, {}, kHead + style + kTail);
    row("created, then one event", QByteArray(), 1, {}, kHead + style + p + kTail);
    const QList<QPair<QString, QByteArray>> shapes = {
        {"created skeleton", kHead + style + kTail},
        {"rotated skeleton", kHead + kTail},
        {"closing tags only", kTail},
        {"paragraphs", kHead + old + kTail},
        {"other lines kept", kHead + "<!-- note -->\n\n" + old + "<h>x</h>\n" + kTail},
        {"binary", QByteArray("\x7f"
                              "ELF\x02\x01\x00\xff\xfe\x80\x98\x0d\x0a\x00\x01<h>\x9c",
                              19)}};
    for (const auto& shape : shapes)
        row(shape.first, shape.second, 1, shape.second.contains("<p>") ? range(0, 5) : QList<int>(),
            rewritten(shape.second, p));
    // Rotation: the paragraph that takes the file over the limit is the last in the backup.
    const qint64 mib = 1024 * 1024;
    const QByteArray exact = kHead + filler(mib - kHead.size() - p.size() - kTail.size()) + kTail;
    row("exactly 1 MiB stays", exact, 1, {}, rewritten(exact, p), QByteArray(), 1.0);
    const QByteArray over = kHead + filler(mib + 1 - kHead.size() - p.size() - kTail.size()) + kTail;
    row("one byte more rotates", over, 2, {}, kHead + paragraphLines(1001, 1) + kTail,
        rewritten(over, p) + '\n', 1.0);
    const QByteArray third =
        kHead + filler(mib - 5 - kHead.size() - paragraphLines(1000, 2).size() - kTail.size()) + kTail;
    row("five at once, the third crosses", third, 5, {}, kHead + paragraphLines(1003, 2) + kTail,
        rewritten(third, paragraphLines(1000, 3)) + '\n', 1.0);
    // Only the last 4 MiB are read back, from the first paragraph that starts in them.
    for (const qint64 extra : {0, 14, 15}) {
        const QByteArray first = paragraphLines(0, 1), last = paragraphLines(1, 3) + kTail;
        const QByteArray file =
            kHead + first + filler(4 * mib + extra - kHead.size() - first.size() - last.size()) + last;
        row(QString("4 MiB and %1 bytes").arg(extra), file, 1, range(extra < 15 ? 0 : 1, extra < 15 ? 4 : 3),
            rewritten(file, p), QByteArray(), 250);
    }
    // Files not of the program's making keep what is readable.
    row("empty", "", 1, {}, p + kTail);
    row("utf-8", kHead + JournalFormat::decode(paragraphLines(1, 1)).toUtf8() + kTail, 1, {1},
        rewritten(kHead + JournalFormat::decode(paragraphLines(1, 1)).toUtf8(), p));
    const QByteArray crlf = QByteArray(kHead + old + kTail).replace("\n", "\r\n");
    row("windows line ends", crlf, 1, range(0, 5), rewritten(crlf, p));
    const QByteArray twice = kHead + old + kTail + '\n' + paragraphLines(5, 1) + kTail;
    row("closing tags in the middle", twice, 1, range(0, 6), rewritten(twice, p));
    const QByteArray many = kHead + paragraphLines(0, 100000) + kTail;
    row("100 000 paragraphs", many, 1, range(100000 - Journal::eventsKept, Journal::eventsKept),
        kHead + kTail, rewritten(many, p) + '\n');
    const QByteArray big = kHead + filler(1100000) + kTail;
    row("journal_bak.html a folder: no rotation, nothing lost", big, 2, {}, rewritten(big, p2), QByteArray(),
        1.0, "journal_bak.html");
    row("journal.html a folder: events shown, not written", QByteArray(), 2, {}, QByteArray(), QByteArray(),
        1.0, "journal.html");
    row("symbolic link repaired", kHead + old + kTail + '\n', 2, range(0, 5), rewritten(kHead + old, p2),
        QByteArray(), 250, "link");
    row("symbolic link rotated", kHead + old + kTail, 2, range(0, 5), kHead + paragraphLines(1001, 1) + kTail,
        rewritten(kHead + old, p) + '\n', 0.0005, "link");

    // A crash cuts an append short: the old end overwritten by the start of the new text
    // (a kill), or the new text followed by zeros (a power cut). Whole paragraphs stay.
    const QByteArray kept = kHead + paragraphLines(1, 2), oldEnd = kept + kTail;
    for (int batch = 1; batch <= 2; ++batch) {
        const QByteArray written = paragraphLines(3, batch) + kTail;
        for (int k = 0; k < written.size(); ++k) {
            const QByteArray killed =
                kept + written.left(k) + (k < kTail.size() ? oldEnd.mid(kept.size() + k) : "");
            const int whole = written.left(k).count("</p>");
            const QByteArray expected = kept + paragraphLines(3, whole) + p + kTail;
            row(QString("batch %1 killed after %2 bytes").arg(batch).arg(k), killed, 1, range(1, 2 + whole),
                expected);
            if (k % 7 == 0 || k > written.size() - 20)
                row(QString("batch %1 power cut after %2 bytes").arg(batch).arg(k),
                    kept + written.left(k) + QByteArray(written.size() - k, '\0'), 1, range(1, 2 + whole),
                    expected);
        }
    }
}

void TestJournalFile::appends()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, setup);
    QFETCH(double, limit);
    QFETCH(int, added);
    QFETCH(QList<int>, atStart);
    QFETCH(QByteArray, journal);
    QFETCH(QByteArray, backup);
    QTemporaryDir dir;
    QString path = dir.filePath("journal.html");
    if (setup == "link") {
        QVERIFY(QDir(dir.path()).mkdir("elsewhere"));
        QVERIFY(QFile::link("elsewhere/target.html", path));
        path = dir.filePath("elsewhere/target.html");
    } else if (!setup.isEmpty()) {
        QVERIFY(QDir(dir.path()).mkdir(setup));
    }
    if (!before.isNull())
        QVERIFY(writeFile(path, before));
    {
        RunningJournal j(dir.path(), limit);
        QCOMPARE(numbersIn(j.journal->recentEvents(Journal::eventsKept)), atStart);
        QVERIFY(j.add(numberedEvents(1000, added)));
    }
    QCOMPARE(readFile(path), journal);
    QCOMPARE(readFile(dir.filePath("journal_bak.html")), backup);
    if (setup.endsWith(".html"))
        QVERIFY(QFileInfo(dir.filePath(setup)).isDir());
    QVERIFY(QFileInfo(dir.filePath("journal.html")).isSymLink() == (setup == "link"));
    QCOMPARE(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestJournalFile::fileRemovedWhileRunning()
{
    QTemporaryDir dir;
    RunningJournal j(dir.path());
    QVERIFY(j.add({numberedEvent(1)}));
    QVERIFY(QFile::remove(dir.filePath("journal.html")));
    QVERIFY(j.add({numberedEvent(2)}));
    QCOMPARE(readFile(dir.filePath("journal.html")), paragraphLines(2, 1) + kTail);
}

void TestJournalFile::gigabyteJournals_data()
{
    // A short head, a hole, 3000 paragraphs and an end: intact, or torn by a crash.
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("end");
    QTest::newRow("1 GiB") << (qint64(1) << 30) << kTail;
    QTest::newRow("2 GiB") << (qint64(2) << 30) << kTail;
    QTest::newRow("1 GiB, torn end") << (qint64(1) << 30) << paragraphLines(3000, 1).left(40);
}

void TestJournalFile::gigabyteJournals()
{
    QFETCH(qint64, size);
    QFETCH(QByteArray, end);
    QTemporaryDir dir;
    const QByteArray paragraphs = paragraphLines(0, 3000);
    const qint64 hole = size - kHead.size() - paragraphs.size() - end.size();
    {
        QFile file(dir.filePath("journal.html"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kHead) == kHead.size());
        QVERIFY(file.resize(kHead.size() + hole) && file.seek(kHead.size() + hole));
        QVERIFY(file.write(paragraphs + end) == paragraphs.size() + end.size());
    }
    // Read back and written with the memory capped 64 MiB above a small journal's; the first
    // event goes over the size limit and rotates.
    QCOMPARE(runChild({dir.path(), "1.02", "5000", "2", "64"}), QByteArray("3000 0 2999"));
    const QByteArray rest = paragraphs + paragraphLines(5000, 1) + kTail + '\n';
    QFile backup(dir.filePath("journal_bak.html"));
    QVERIFY(backup.open(QIODevice::ReadOnly));
    QCOMPARE(backup.size(), kHead.size() + hole + rest.size());
    QCOMPARE(backup.read(kHead.size()), kHead);
    for (qint64 left = hole; left > 0; left -= 1 << 20) {
        const int n = int(qMin<qint64>(left, 1 << 20));
        QVERIFY(backup.read(n).count('\0') == n);
    }
    QCOMPARE(backup.readAll(), rest);
    QCOMPARE(readFile(dir.filePath("journal.html")), kHead + paragraphLines(5001, 1) + kTail);
}

void TestJournalFile::readOnlyFolder_data()
{
    // Writable files in a folder that takes no new file, written by an unprivileged user.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("rotates"); // with journal_bak.html there and a limit of 10 KiB
    const QByteArray old = paragraphLines(0, 5);
    QTest::newRow("line break after the end") << kHead + old + kTail + '\n' << false;
    QTest::newRow("closing tags twice") << kHead + old + kTail + '\n' + kTail << false;
    QTest::newRow("rotation") << kHead + filler(9000) + old + kTail << true;
    QTest::newRow("line break after the end, rotation") << kHead + filler(9000) + old + kTail + "\n\n"
                                                        << true;
}

void TestJournalFile::readOnlyFolder()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, rotates);
    QTemporaryDir dir;
    const QFileDevice::Permissions writable(0x6666);
    QVERIFY(writeFile(dir.filePath("journal.html"), content) &&
            QFile::setPermissions(dir.filePath("journal.html"), writable));
    if (rotates)
        QVERIFY(writeFile(dir.filePath("journal_bak.html"), "old") &&
                QFile::setPermissions(dir.filePath("journal_bak.html"), writable));
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x5555)));
    const QByteArray printed = runChild({dir.path(), rotates ? "0.01" : "250", "5", "20", "0"}, true);
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755));
    QCOMPARE(printed, QByteArray("5 0 4"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), rotates ? 2 : 1);
    QCOMPARE(numbersOnDisk(dir.path()), range(0, 25));
    const QByteArray journal = readFile(dir.filePath("journal.html"));
    QVERIFY(journal.endsWith("\n" + kTail));
    if (rotates) {
        QVERIFY(journal.startsWith(kHead + "<p>"));
        QVERIFY(readFile(dir.filePath("journal_bak.html")).startsWith(kHead + filler(9000)));
    }
}

void TestJournalFile::fullDisk_data()
{
    QTest::addColumn<double>("limit");
    QTest::addColumn<int>("roomBytes"); // beyond the file's size when the disk fills
    QTest::newRow("not one byte more") << 1.0 << 0;
    QTest::newRow("room for half a paragraph") << 1.0 << 150;
    QTest::newRow("room for three paragraphs") << 1.0 << 900;
    QTest::newRow("full when the journal must rotate") << 0.002 << 0;
}

// The disk fills (a file-size limit stands in): the file stays whole, refused events wait,
// and once there is room again every event is on disk, in order.
void TestJournalFile::fullDisk()
{
    QFETCH(double, limit);
    QFETCH(int, roomBytes);
    QTemporaryDir dir;
    auto j = std::make_unique<RunningJournal>(dir.path(), limit);
    QSignalSpy trouble(j->journal.get(), &Journal::fileWriteTrouble);
    QVERIFY(j->add(numberedEvents(1, 5)));
    QCOMPARE(numbersOnDisk(dir.path()), range(1, 5));

    QVERIFY(limitFileSize(rlim_t(QFileInfo(dir.filePath("journal.html")).size() + roomBytes)));
    QVERIFY(j->add(numberedEvents(6, 15))); // the page shows them all the same
    QTRY_COMPARE(trouble.count(), 1);
    QCOMPARE(trouble.last().at(0).toBool(), true);
    const QList<int> partial = numbersOnDisk(dir.path());
    QVERIFY(!partial.isEmpty() && partial.size() < 20);
    QCOMPARE(partial, range(partial.first(), partial.size()));

    QVERIFY(limitFileSize(RLIM_INFINITY));
    QVERIFY(j->add({numberedEvent(21)}));
    QTRY_COMPARE(trouble.count(), 2);
    QCOMPARE(trouble.last().at(0).toBool(), false);
    j.reset();
    const QList<int> all = numbersOnDisk(dir.path());
    // Rotating, the newest stretch is kept without a gap; otherwise everything.
    QVERIFY(!all.isEmpty());
    QCOMPARE(all, range(limit >= 0.01 ? 1 : all.first(), limit >= 0.01 ? 21 : 22 - all.first()));
}

void TestJournalFile::killedAtRandomMoments_data()
{
    QTest::addColumn<QString>("limit");
    QTest::newRow("one growing journal") << "100";
    QTest::newRow("rotating every 10 KiB") << "0.01";
}

// Every event the writer was told is on disk reads back after a SIGKILL, in order, without
// gaps, and the next run carries on from there.
void TestJournalFile::killedAtRandomMoments()
{
    QFETCH(QString, limit);
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    int acknowledged = 0, highest = -1;
    for (int round = 0; round < 25; ++round) {
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QCoreApplication::applicationFilePath(),
                     {kChildFlag, dir.path(), limit, "0", "-1", "0"});
        QVERIFY(writer.waitForStarted(10000));
        if (round % 5 != 4) // mostly while it writes, now and then while it reads back
            QVERIFY(writer.waitForReadyRead(30000));
        QThread::msleep(random.bounded(150));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(10000));
        // Whole lines after the first count: the last one may have been cut by the kill.
        const QByteArray output = writer.readAllStandardOutput();
        for (const QByteArray& line : output.left(output.lastIndexOf('\n') + 1).split('\n').mid(1)) {
            if (!line.isEmpty()) {
                highest = qMax(highest, line.toInt());
                ++acknowledged;
            }
        }
        const QList<int> numbers = numbersOnDisk(dir.path());
        QVERIFY2(numbers.isEmpty() || numbers == range(numbers.first(), numbers.size()),
                 qPrintable(QString("round %1: gap or disorder").arg(round)));
        QVERIFY2(highest < 0 || (!numbers.isEmpty() && numbers.last() >= highest),
                 qPrintable(QString("round %1: %2 acknowledged, not on disk").arg(round).arg(highest)));
        QVERIFY(numbers.isEmpty() || limit != "100" || numbers.first() == 0); // nothing rotated away
    }
    QVERIFY2(acknowledged > 200, "the writer hardly got to write: the test proved little");
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
