#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// The device simulator (tools/orvik-sim) on a pty of its own, reachable through a link that
// survives the line vanishing and coming back, and steered through its control FIFO.
struct SimulatedLine
{
    QTemporaryDir dir;
    QProcess process;
    QString link() const { return dir.filePath("line"); }
    QString control() const { return dir.filePath("control"); }

    bool start(const QStringList& options)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("/usr/bin/python3", QStringList{ORVIK_SOURCE_DIR "/tools/orvik-sim", "--link", link(),
                                                      "--control", control()} +
                                              options);
        return process.waitForStarted(5000) && process.waitForReadyRead(10000) &&
               process.readLine().trimmed().startsWith("/dev/pts/");
    }
    void command(const QByteArray& line)
    {
        QFile fifo(control());
        if (fifo.open(QIODevice::WriteOnly))
            fifo.write(line + "\n");
    }
    ~SimulatedLine()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};
