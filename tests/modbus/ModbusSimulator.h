#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

// The project's Modbus device simulator (tools/orvik-sim --modbus, pymodbus behind a layer
// that paces bytes like the wire and injects faults) on a fresh pty. Its first line of
// output is the path of the line; faults are switched through its control FIFO.
class ModbusSimulator
{
public:
    explicit ModbusSimulator(const QStringList& arguments)
    {
        const QString script = QStringLiteral(ORVIK_SOURCE_DIR "/tools/orvik-sim");
        if (!QFile::exists(QStringLiteral(ORVIK_SOURCE_DIR "/tools/orvik_sim_modbus.py")))
            return;
        fifo = folder.filePath(QStringLiteral("control"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Nothing is written into the source tree.
        environment.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{script, QStringLiteral("--modbus"), QStringLiteral("--control"), fifo} +
                          arguments);
        if (process.waitForStarted(5000) && process.waitForReadyRead(15000))
            line = QString::fromLocal8Bit(process.readLine()).trimmed();
    }

    ~ModbusSimulator()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }

    bool isReady() const { return !line.isEmpty(); }
    QString path() const { return line; }

    // One control command ("silent 3", "answer all", "vanish"); the simulator logs it done.
    bool command(const QString& text)
    {
        QFile control(fifo);
        if (!control.open(QIODevice::WriteOnly))
            return false;
        const QByteArray bytes = text.toUtf8() + '\n';
        return control.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir folder;
    QString fifo;
    QProcess process;
    QString line;
};
