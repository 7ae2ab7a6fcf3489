#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <sys/prctl.h>

// A child that dies with the test: an orphaned simulator would hold its pty and ctest.
class ChildOfTest : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

// The device simulator on a pty, reached through a link that outlives the line, steered
// through its control FIFO.
struct SimulatedLine
{
    QTemporaryDir dir;
    ChildOfTest process;
    QString link() const { return dir.filePath("line"); }
    QString control() const { return dir.filePath("control"); }

    bool start(const QStringList& options)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PYTHONDONTWRITEBYTECODE", "1"); // nothing written into the source tree
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("/usr/bin/python3", QStringList{ORVIK_SOURCE_DIR "/tools/orvik-sim"} + options +
                                              QStringList{"--link", link(), "--control", control()});
        return process.waitForStarted(5000) && process.waitForReadyRead(15000) &&
               process.readLine().trimmed().startsWith("/dev/pts/");
    }
    bool command(const QByteArray& line)
    {
        QFile fifo(control());
        return fifo.open(QIODevice::WriteOnly) && fifo.write(line + "\n") == line.size() + 1;
    }
    ~SimulatedLine()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};
