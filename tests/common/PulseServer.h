#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

// A private audio server with a null sink "nul". Start it before the QApplication exists:
// Qt's audio plugin connects once, to the server it finds.
class PulseServer
{
public:
    bool start()
    {
        dir = std::make_unique<QTemporaryDir>(); // made 0700, as the server wants
        qputenv("XDG_RUNTIME_DIR", dir->path().toLocal8Bit());
        qputenv("PULSE_RUNTIME_PATH", (dir->path() + "/pulse").toLocal8Bit());
        const int rc =
            run("pulseaudio", {"-D", "--exit-idle-time=-1", "-n", "--load=module-null-sink sink_name=nul",
                               "--load=module-native-protocol-unix"});
        for (int i = 0; i < 50; ++i, QThread::msleep(100))
            if (run("pactl", {"info"}) == 0)
                return run("pactl", {"set-default-sink", "nul"}), true;
        problem = QString("no audio server came up (pulseaudio exit code %1, -1: not installed)").arg(rc);
        return false;
    }
    // Returns once the server is gone: no test meets a half-dead server.
    void stop()
    {
        if (!dir)
            return;
        run("pulseaudio", {"--kill"});
        for (int i = 0; i < 50 && run("pactl", {"info"}) == 0; ++i)
            QThread::msleep(100);
    }
    ~PulseServer() { stop(); }

    QString problem;

private:
    static int run(const QString& program, const QStringList& arguments)
    {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(program, arguments);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    std::unique_ptr<QTemporaryDir> dir;
};
