// The real program: one a folder, and a damaged settings.xml neither stops it nor is written over.
#include "../common/FileContent.h"
#include "../common/SimulatedLine.h"
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void secondInstance_data()
    {
        QTest::addColumn<bool>("firstKilled");
        QTest::addColumn<QByteArray>("settings"); // "/": a folder in its place
        QTest::newRow("first still running, a folder for settings.xml") << false << QByteArray("/");
        QTest::newRow("first killed, its lock left behind; nan, inf, garbage and repeated values")
            << true
            << QByteArray(
                   "<!DOCTYPE settings>\n<settings>\n<com_port>\xcf\xee\xf0\xf2</com_port>"
                   "<temp_warning_threshold>x</temp_warning_threshold><journal_size>1e400</journal_size>"
                   "<group_id msd=\"-1\" mkp=\"99\">42</group_id><mode>true</mode><mode>false</mode>"
                   "<temp_emergency_threshold>nan</temp_emergency_threshold><journal_size>-inf"
                   "</journal_size><temp_warning_threshold>inf</temp_warning_threshold></settings>\n");
    }
    void secondInstance()
    {
        QFETCH(bool, firstKilled);
        QFETCH(QByteArray, settings);
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.xml");
        QVERIFY(settings == "/" ? QDir(dir.path()).mkdir("settings.xml") : writeFile(path, settings));
        const QDateTime before = QFileInfo(path).lastModified();
        ChildOfTest first, second;
        start(first, dir.path(), false);
        if (firstKilled) {
            first.kill();
            QVERIFY(first.waitForFinished(10000) && QFile::exists(dir.filePath("orvik-monitor.lock")));
            start(second, dir.path(), true);
            QCOMPARE(readFile(path), settings);
        } else {
            start(second, dir.path(), false);
            QVERIFY(second.waitForFinished(10000)); // its box closes by itself within 5 s
            QCOMPARE(second.exitCode(), 1);
            QVERIFY2(
                QString::fromLocal8Bit(second.readAll())
                    .contains("Монитор уже запущен в этой папке: " + QDir::toNativeSeparators(dir.path())),
                "the second monitor must say why it stops");
            QCOMPARE(first.state(), QProcess::Running);
            QVERIFY(QFileInfo(path).isDir());
            first.kill();
            first.waitForFinished(10000);
        }
        QCOMPARE(QFileInfo(path).lastModified(), before);
    }

private:
    // With `staysUp`: checks the program still runs once its window is built, and ends it.
    void start(ChildOfTest& process, const QString& dir, bool staysUp)
    {
        process.setProgram(qEnvironmentVariable("ORVIK_MONITOR"));
        process.setWorkingDirectory(dir);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start();
        QVERIFY2(process.waitForStarted(10000), "ORVIK_MONITOR must name the built program");
        // The journal starts after the settings are read; the window is shown soon after.
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir + "/journal.html"); }, 10000));
        if (!staysUp)
            return;
        QVERIFY2(!process.waitForFinished(1000), process.readAll().constData());
        process.kill();
        process.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
