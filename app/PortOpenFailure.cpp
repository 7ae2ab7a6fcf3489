#include "app/PortOpenFailure.h"

#include "link/ComPort.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
QString translated(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}

bool isAccessError(std::uint32_t error)
{
    return error == EACCES || error == EPERM;
}

// The serial port's permission error also stands for a busy port and a lock held by another
// program: only the device's own rights tell whether the user lacks them.
bool userLacksRights(const QString& name)
{
    const QByteArray path = QFile::encodeName(ComPort::pathFor(name));
    return ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 && isAccessError(errno);
}
} // namespace

QString PortOpenFailure::accessHint()
{
    return translated(
        "Нет доступа к порту: добавьте пользователя в группу dialout и войдите в систему заново.");
}

QString PortOpenFailure::nativeText(const QString& path, std::uint32_t error)
{
    QString text = translated("Не удалось открыть ком порт(%1, %2)").arg(path).arg(error);
    if (isAccessError(error))
        text += QLatin1Char('\n') + accessHint();
    return text;
}

QString PortOpenFailure::modbusText(const QString& name, QSerialPort::SerialPortError error,
                                    const QString& errorText)
{
    QString text = translated("Не удалось открыть ком порт %1: %2").arg(name, errorText);
    if (error == QSerialPort::PermissionError && userLacksRights(name))
        text += QLatin1Char('\n') + accessHint();
    return text;
}
