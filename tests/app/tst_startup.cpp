// The real program started in a folder with a damaged settings.xml: it must stay up
// and leave the file exactly as it found it. A second one in the same folder must not start.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void staysUpAndKeepsFile_data();
    void staysUpAndKeepsFile();
    void directoryInPlaceOfFile();
    void secondInstance_data();
    void secondInstance();

private:
    void startIn(QProcess& process, const QString& dir);
    // Starts the program in dir, checks it is still running after a while, stops it.
    void runIn(const QString& dir);
    QString program;
};

void TestStartup::initTestCase()
{
    program = qEnvironmentVariable("ORVIK_MONITOR");
    QVERIFY2(QFileInfo(program).isExecutable(), "ORVIK_MONITOR must name the built program");
}

void TestStartup::startIn(QProcess& process, const QString& dir)
{
    process.setProgram(program);
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    QVERIFY(process.waitForStarted(10000));
}

void TestStartup::runIn(const QString& dir)
{
    QProcess process;
    startIn(process, dir);
    // Long enough for the window to be built and shown, even under sanitizers.
    QVERIFY2(!process.waitForFinished(3000), process.readAll().constData());
    QCOMPARE(process.state(), QProcess::Running);
    process.kill();
    process.waitForFinished(10000);
}

void TestStartup::staysUpAndKeepsFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("present");
    const QByteArray head = "<!DOCTYPE settings>\n<settings>\n";
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("truncated") << QByteArray(head + " <group_id msd=\"1\" mk") << true;
    QTest::newRow("binary") << QByteArray("\x7f"
                                          "ELF\x02\x01\x01\x00\x00\xff\xfe",
                                          12)
                            << true;
    QTest::newRow("windows-1251 text")
        << QByteArray(head + " <com_port>\xcf\xee\xf0\xf2</com_port>\n</settings>\n") << true;
    QTest::newRow("ill-formed") << QByteArray(head + " <mode>true</modus>\n</settings>\n") << true;
    QTest::newRow("garbage numbers")
        << QByteArray(head +
                      " <temp_warning_threshold>x</temp_warning_threshold>\n"
                      " <journal_size>1e400</journal_size>\n <group_id msd=\"-1\" mkp=\"99\">42</group_id>\n"
                      "</settings>\n")
        << true;
    QTest::newRow("nan and inf") << QByteArray(head +
                                               " <temp_warning_threshold>nan</temp_warning_threshold>\n"
                                               " <temp_emergency_threshold>inf</temp_emergency_threshold>\n"
                                               " <journal_size>-inf</journal_size>\n</settings>\n")
                                 << true;
    QTest::newRow("duplicated elements")
        << QByteArray(head + " <mode>true</mode>\n <mode>false</mode>\n <mode>true</mode>\n</settings>\n")
        << true;
    QByteArray huge = head;
    for (int i = 0; i < 200000; ++i)
        huge += " <group_id msd=\"1\" mkp=\"1\">1</group_id>\n";
    QTest::newRow("huge") << QByteArray(huge + "</settings>\n") << true;
}

void TestStartup::staysUpAndKeepsFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, present);
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.xml");
    if (present) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QDateTime before = present ? QFileInfo(path).lastModified() : QDateTime();
    runIn(dir.path());
    QCOMPARE(QFile::exists(path), present);
    if (present) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
        QCOMPARE(QFileInfo(path).lastModified(), before);
    }
}

void TestStartup::directoryInPlaceOfFile()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("settings.xml"));
    runIn(dir.path());
    QVERIFY(QFileInfo(dir.filePath("settings.xml")).isDir());
}

void TestStartup::secondInstance_data()
{
    QTest::addColumn<bool>("firstCrashed");
    QTest::newRow("first still running") << false;
    QTest::newRow("first killed, its lock left behind") << true;
}

void TestStartup::secondInstance()
{
    QFETCH(bool, firstCrashed);
    QTemporaryDir dir;
    QProcess first;
    startIn(first, dir.path());
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir.filePath("journal.html")); }, 10000));
    if (firstCrashed) {
        first.kill();
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(QFile::exists(dir.filePath("orvik-monitor.lock")));
        runIn(dir.path());
        return;
    }
    QProcess second;
    startIn(second, dir.path());
    // The box closes by itself within 5 s.
    QVERIFY(second.waitForFinished(10000));
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
