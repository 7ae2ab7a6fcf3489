#include "RecordingLine.h"

#include <QMutexLocker>
#include <QThread>
#include <cerrno>
#include <cstring>

QStringList RecordingLine::log()
{
    QMutexLocker locker(&mutex);
    return entries;
}

void RecordingLine::clearLog()
{
    QMutexLocker locker(&mutex);
    entries.clear();
    calls.clear();
}

QString RecordingLine::describe(const termios& t)
{
    QString text;
    if (!(t.c_cflag & PARENB))
        text = QStringLiteral("none");
    else if (t.c_cflag & CMSPAR)
        text = t.c_cflag & PARODD ? QStringLiteral("mark") : QStringLiteral("space");
    else
        text = t.c_cflag & PARODD ? QStringLiteral("odd") : QStringLiteral("even");
    if (t.c_iflag & INPCK)
        text += QStringLiteral(" inpck");
    if (cfgetospeed(&t) != B19200)
        text += QStringLiteral(" @9600");
    return text;
}

int RecordingLine::record(const QString& operation)
{
    QMutexLocker locker(&mutex);
    entries.append(operation);
    const int n = ++calls[operation];
    locker.unlock();
    return failure ? failure(operation, n) : 0;
}

int RecordingLine::open(const QByteArray&)
{
    if (!initialised) {
        // What the port finds at open: 9600 baud, no parity, canonical input.
        std::memset(&current, 0, sizeof current);
        current.c_cflag = CS7 | CREAD;
        current.c_lflag = ICANON | ECHO;
        cfsetispeed(&current, B9600);
        cfsetospeed(&current, B9600);
        initialised = true;
    }
    return record(QStringLiteral("open"));
}

int RecordingLine::close()
{
    return record(QStringLiteral("close"));
}

int RecordingLine::getAttributes(termios& settings)
{
    const int error = record(QStringLiteral("get"));
    if (error == 0)
        settings = current;
    return error;
}

int RecordingLine::setAttributes(const termios& settings)
{
    const int error = record(QStringLiteral("set ") + describe(settings));
    if (error == 0) {
        current = settings;
        if (driverAdjusts)
            driverAdjusts(current);
    }
    return error;
}

int RecordingLine::setModemLinesOff()
{
    return record(QStringLiteral("modem off"));
}

int RecordingLine::drain(int)
{
    return record(QStringLiteral("drain"));
}

int RecordingLine::write(const std::uint8_t* data, std::size_t count, int)
{
    return record(QStringLiteral("write ") +
                  QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(count)).toHex(' '));
}

int RecordingLine::read(std::uint8_t* data, std::size_t count, int timeoutMs, std::size_t& received)
{
    received = 0;
    const int error = record(QStringLiteral("read %1 within %2").arg(count).arg(timeoutMs));
    if (readDelayMs > 0)
        QThread::msleep(static_cast<unsigned long>(readDelayMs));
    if (error == 0) {
        received = qMin(count, static_cast<std::size_t>(pendingInput.size()));
        std::memcpy(data, pendingInput.constData(), received);
    }
    record(QStringLiteral("read done"));
    return error;
}

int RecordingLine::discardInput()
{
    pendingInput.clear();
    return record(QStringLiteral("discard input"));
}

void RecordingLine::pause(int ms)
{
    record(QStringLiteral("pause %1").arg(ms));
}
