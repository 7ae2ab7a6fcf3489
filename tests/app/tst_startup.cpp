// The real program in a folder with a damaged settings.xml stays up and leaves the file as it
// was; a second one in the same folder does not start.
#include "../common/SimulatedLine.h"

#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void damagedSettings_data();
    void damagedSettings();
    void secondInstance_data();
    void secondInstance();

private:
    // The program in dir; with `staysUp`, checks it still runs once its window is built, and ends it.
    void start(ChildOfTest& process, const QString& dir, bool staysUp)
    {
        process.setProgram(qEnvironmentVariable("ORVIK_MONITOR"));
        process.setWorkingDirectory(dir);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start();
        QVERIFY2(process.waitForStarted(10000), "ORVIK_MONITOR must name the built program");
        if (!staysUp)
            return;
        // The journal starts after the settings are read; the window is shown soon after.
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir + "/journal.html"); }, 10000));
        QVERIFY2(!process.waitForFinished(1000), process.readAll().constData());
        process.kill();
        process.waitForFinished(10000);
    }
};

void TestStartup::damagedSettings_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file; "/": a folder in its place
    const QByteArray head = "<!DOCTYPE settings>\n<settings>\n";
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("a folder") << QByteArray("/");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("truncated") << QByteArray(head + " <group_id msd=\"1\" mk");
    QTest::newRow("binary") << QByteArray::fromHex("7f454c46020101000000fffe");
    QTest::newRow("ill-formed") << QByteArray(head + " <mode>true</modus>\n</settings>\n");
    QTest::newRow("windows-1251, garbage, nan, inf and repeated values") << QByteArray(
        head + "<com_port>\xcf\xee\xf0\xf2</com_port><temp_warning_threshold>x</"
               "temp_warning_threshold><journal_size>1e400</journal_size>"
               "<group_id msd=\"-1\" "
               "mkp=\"99\">42</group_id><temp_emergency_threshold>nan</temp_emergency_threshold>"
               "<temp_warning_threshold>inf</temp_warning_threshold><journal_size>-inf</journal_size>"
               "<mode>true</mode><mode>false</mode><mode>true</mode></settings>\n");
    QTest::newRow("huge") << head +
                                 QByteArray("<group_id msd=\"1\" mkp=\"1\">1</group_id>\n").repeated(200000) +
                                 "</settings>\n";
}

void TestStartup::damagedSettings()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.xml");
    QFile f(path);
    QVERIFY(content.isNull() ||
            (content == "/" ? QDir(dir.path()).mkdir("settings.xml") : f.open(QIODevice::WriteOnly)));
    if (f.isOpen())
        f.write(content);
    f.close();
    const QDateTime before = QFileInfo(path).lastModified();
    ChildOfTest monitor;
    start(monitor, dir.path(), true);
    QCOMPARE(QFileInfo(path).exists(), !content.isNull());
    QCOMPARE(QFileInfo(path).isDir(), content == "/");
    QCOMPARE(QFileInfo(path).lastModified(), before);
    QVERIFY(content.isNull() || content == "/" || (f.open(QIODevice::ReadOnly) && f.readAll() == content));
}

void TestStartup::secondInstance_data()
{
    QTest::addColumn<bool>("firstKilled");
    QTest::newRow("first still running") << false;
    QTest::newRow("first killed, its lock left behind") << true;
}

void TestStartup::secondInstance()
{
    QFETCH(bool, firstKilled);
    QTemporaryDir dir;
    ChildOfTest first, second;
    start(first, dir.path(), false);
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir.filePath("journal.html")); }, 10000));
    if (firstKilled) {
        first.kill();
        QVERIFY(first.waitForFinished(10000) && QFile::exists(dir.filePath("orvik-monitor.lock")));
        return start(second, dir.path(), true);
    }
    start(second, dir.path(), false);
    QVERIFY(second.waitForFinished(10000)); // its box closes by itself within 5 s
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(QString::fromLocal8Bit(second.readAll())
                 .contains("Монитор уже запущен в этой папке: " + QDir::toNativeSeparators(dir.path())),
             "the second monitor must say why it stops");
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(10000);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
