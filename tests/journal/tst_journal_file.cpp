// journal.html on disk: appends, rotation, torn ends, bad files, size limits, a full disk, kills.
#include "../common/FileSizeLimit.h"
#include "../common/StoreKill.h"
#include "JournalTestSupport.h"
#include <csignal>
#include <malloc.h>

namespace {
const char kChildFlag[] = "--journal-child";

QByteArray paragraphLines(int first, int count)
{
    QByteArray lines;
    for (const Event& e : numberedEvents(first, count))
        lines += JournalFormat::encode(JournalFormat::toHtml(e)) + '\n';
    return lines;
}

// The whole-file rewrite the format was defined by: all but the closing tags, paragraphs, tags.
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

// A rotation cut between its two steps leaves both files holding the same events: once each.
QList<int> numbersOnDisk(const QString& folder)
{
    QList<int> numbers = numbersIn(QDir(folder).filePath("journal_bak.html"));
    const int inBackup = numbers.size();
    for (int n : numbersIn(QDir(folder).filePath("journal.html")))
        if (!numbers.mid(0, inBackup).contains(n))
            numbers << n;
    return numbers;
}

// Args: folder, MiB limit, first, count (-1: bursts), MiB address space (0: no cap); prints each one on disk.
int journalChild(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const long long allowedMiB = QByteArray(argv[6]).toLongLong();
    mallopt(M_ARENA_MAX, 1); // no 64 MiB reserve per thread
    if (allowedMiB > 0 && !ORVIK_SANITIZED &&
        !limitAddressSpace(rlim_t(addressSpaceInUse() + (allowedMiB << 20))))
        return 3;
    RunningJournal j(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toDouble());
    const QList<int> back = numbersIn(j.journal->recentEvents(Journal::eventsKept));
    std::printf("%d %d %d\n", back.size(), back.value(0, -1), back.isEmpty() ? -1 : back.last());
    std::fflush(stdout);
    QObject::connect(
        j.journal.get(), &Journal::updateJournalWidget, j.journal.get(),
        [](const Event& e) { reportLine(QByteArray::number(numbersIn({e}).first()) + '\n'); },
        Qt::DirectConnection); // on the journal's thread, right after the write
    int first = QByteArray(argv[4]).toInt();
    if (const int count = QByteArray(argv[5]).toInt(); count >= 0)
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

// Runs journalChild as the user nobody, from a copy that user can reach; its first line.
QByteArray runChild(const QStringList& arguments)
{
    QTemporaryDir copyDir;
    QString program = QCoreApplication::applicationFilePath();
    QStringList args = QStringList{kChildFlag} + arguments;
    if (::geteuid() == 0) {
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
    return done && child.exitCode() == 0 ? child.readAllStandardOutput().split('\n').value(0) : QByteArray();
}
} // namespace

class TestJournalFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); } // a full disk fails writes with EFBIG
    void cleanup() { limitFileSize(RLIM_INFINITY); }
    void appends_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<double>("limit");      // MiB
        QTest::addColumn<int>("added");         // events numbered from 1000, handed over together
        QTest::addColumn<QList<int>>("atStart");
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QByteArray>("backup");
        const auto row = [](const QString& name, const QByteArray& before, int added,
                            const QList<int>& atStart, const QByteArray& journal,
                            const QByteArray& backup = QByteArray(), double limit = 1.02) {
            QTest::newRow(qPrintable(name)) << before << limit << added << atStart << journal << backup;
        };
        const QByteArray p = paragraphLines(1000, 1), old = paragraphLines(0, 5);
        for (const QByteArray& shape :
             {kHead + kTail, kTail, kHead + "<!-- note -->\n\n" + old + "<h>x</h>\n" + kTail,
              QByteArray("\x7f"
                         "ELF\x02\x00\xff\xfe\x80\x98\x0d\x0a\x00\x01<h>\x9c",
                         17),
              QByteArray(""), QByteArray(kHead + old + kTail).replace("\n", "\r\n"),
              kHead + old + kTail + '\n' + paragraphLines(5, 1) + kTail})
            row("kept as it was: " + QString::fromLatin1(shape.left(24).toPercentEncoding()), shape, 1,
                range(0, shape.count("<p>")), rewritten(shape, p));
        const auto sized = [](qint64 size, const QByteArray& start,
                              const QByteArray& end) { // a comment fills it
            return kHead + start + "<!--" +
                   QByteArray(int(size - kHead.size() - start.size() - end.size() - 8), 'x') + "-->\n" + end;
        };
        const qint64 mib = 1024 * 1024;
        const QByteArray exact = sized(mib - p.size(), "", kTail),
                         over = sized(mib + 1 - p.size(), "", kTail);
        row("exactly 1 MiB stays", exact, 1, {}, rewritten(exact, p), QByteArray(), 1.0);
        row("one byte more rotates", over, 2, {}, kHead + paragraphLines(1001, 1) + kTail,
            rewritten(over, p) + '\n', 1.0);
        // Only the last 4 MiB are read back, from the first paragraph that starts in them.
        for (const qint64 extra : {14, 15}) {
            const QByteArray file =
                sized(4 * mib + extra, paragraphLines(0, 1), paragraphLines(1, 3) + kTail);
            row(QString("4 MiB and %1 bytes").arg(extra), file, 1,
                range(extra < 15 ? 0 : 1, extra < 15 ? 4 : 3), rewritten(file, p), QByteArray(), 250);
        }
        // An append cut short by a kill or by a power cut (zeros after it): whole paragraphs stay.
        const QByteArray kept = kHead + paragraphLines(1, 2), written = paragraphLines(3, 2) + kTail;
        const int end = written.indexOf("</p>") + 4;
        for (int k : {0, 1, 14, 15, end - 1, end, int(written.size()) - 1}) {
            const int whole = written.left(k).count("</p>");
            const QByteArray expected = kept + paragraphLines(3, whole) + p + kTail;
            row(QString("killed after %1 bytes").arg(k),
                kept + written.left(k) + (kept + kTail).mid(kept.size() + k), 1, range(1, 2 + whole),
                expected);
            row(QString("power cut after %1 bytes").arg(k),
                kept + written.left(k) + QByteArray(written.size() - k, '\0'), 1, range(1, 2 + whole),
                expected);
        }
    }
    void appends()
    {
        QFETCH(QByteArray, before);
        QFETCH(double, limit);
        QFETCH(int, added);
        QFETCH(QList<int>, atStart);
        QFETCH(QByteArray, journal);
        QFETCH(QByteArray, backup);
        QTemporaryDir dir;
        const QString path = dir.filePath("journal.html");
        QVERIFY(before.isNull() || writeFile(path, before));
        {
            RunningJournal j(dir.path(), limit);
            QCOMPARE(numbersIn(j.journal->recentEvents(Journal::eventsKept)), atStart);
            QVERIFY(j.add(numberedEvents(1000, added)));
        }
        QCOMPARE(readFile(path), journal);
        QCOMPARE(readFile(dir.filePath("journal_bak.html")), backup);
    }
    // 2 GiB, mostly a hole, in a folder that takes no new file, in bounded memory, as nobody.
    void gigabyteJournalInAReadOnlyFolder()
    {
        QTemporaryDir dir;
        const QString journal = dir.filePath("journal.html"), backup = dir.filePath("journal_bak.html");
        const QByteArray paragraphs = paragraphLines(0, 3000);
        const qint64 hole = (qint64(2) << 30) - kHead.size() - paragraphs.size() - kTail.size();
        QFile file(journal);
        QVERIFY(writeFile(journal, kHead) && QFile::resize(journal, kHead.size() + hole) &&
                file.open(QIODevice::Append) &&
                file.write(paragraphs + kTail) == paragraphs.size() + kTail.size());
        file.close();
        QVERIFY(writeFile(backup, "old") && QFile::setPermissions(backup, QFileDevice::Permissions(0x6666)) &&
                QFile::setPermissions(journal, QFileDevice::Permissions(0x6666)) &&
                QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x5555)));
        const QByteArray printed = runChild({dir.path(), "1.02", "5000", "2", "64"});
        QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755));
        QCOMPARE(printed, QByteArray("3000 0 2999"));
        const QByteArray rest = paragraphs + paragraphLines(5000, 1) + kTail + '\n';
        QFile copy(backup);
        QVERIFY(copy.open(QIODevice::ReadOnly) && copy.size() == kHead.size() + hole + rest.size());
        QVERIFY(copy.read(kHead.size()) == kHead && copy.seek(kHead.size() + hole));
        QCOMPARE(copy.readAll(), rest);
        QCOMPARE(readFile(journal), kHead + paragraphLines(5001, 1) + kTail);
    }
    // A file-size limit stands in for a full disk: refused events wait, then all are on disk.
    void fullDisk()
    {
        QTemporaryDir dir;
        auto j = std::make_unique<RunningJournal>(dir.path(), 1.0);
        QSignalSpy trouble(j->journal.get(), &Journal::fileWriteTrouble);
        QVERIFY(j->add(numberedEvents(1, 5)));
        QVERIFY(limitFileSize(rlim_t(QFileInfo(dir.filePath("journal.html")).size())));
        QVERIFY(j->add(numberedEvents(6, 15))); // the page shows them all the same
        QTRY_VERIFY(trouble.count() == 1 && trouble.last().at(0).toBool());
        QVERIFY(numbersOnDisk(dir.path()).size() < 20);
        QVERIFY(limitFileSize(RLIM_INFINITY));
        QVERIFY(j->add(numberedEvents(21)));
        QTRY_VERIFY(trouble.count() == 2 && !trouble.last().at(0).toBool());
        j.reset();
        QCOMPARE(numbersOnDisk(dir.path()), range(1, 21));
    }
    // Every event said written reads back after a SIGKILL, in order, rotating every 10 KiB.
    void killedAtRandomMoments()
    {
        QRandomGenerator random = loggedRandom();
        QTemporaryDir dir;
        int acknowledged = 0, highest = -1;
        for (int round = 0; round < 12; ++round) {
            QList<QByteArray> lines;
            QVERIFY(
                killAtRandomMoment({kChildFlag, dir.path(), "0.01", "0", "-1", "0"}, round, random, &lines));
            for (const QByteArray& line : lines.mid(1))
                highest = qMax(highest, line.toInt()), ++acknowledged;
            const QList<int> numbers = numbersOnDisk(dir.path());
            QVERIFY2(numbers.isEmpty() || numbers == range(numbers.first(), numbers.size()),
                     "gap or disorder");
            QVERIFY2(highest < 0 || (!numbers.isEmpty() && numbers.last() >= highest),
                     "acknowledged, not on disk");
        }
        QVERIFY2(acknowledged > 200, "the writer hardly got to write: the test proved little");
    }
};

int main(int argc, char* argv[])
{
    if (argc == 7 && qstrcmp(argv[1], kChildFlag) == 0)
        return journalChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestJournalFile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal_file.moc"
