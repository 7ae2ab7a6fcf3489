#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A stand-in for the kernel's table of tty devices: one folder per entry, with a device
// link (and that device's driver link) where the entry has hardware behind it.
class FakeTtyTable
{
public:
    QString root() const { return dir.filePath(QStringLiteral("class/tty")); }

    FakeTtyTable() { QDir(dir.path()).mkpath(QStringLiteral("class/tty")); }

    // driver empty: an entry without a device (virtual consoles, ptmx). type: the UART type
    // the kernel publishes for a serial-core port, none when empty.
    bool add(const QString& name, const QString& driver, const QString& type = QString())
    {
        QDir base(dir.path());
        if (!base.mkpath(QStringLiteral("class/tty/") + name))
            return false;
        if (!type.isEmpty()) {
            QFile attribute(base.filePath(QStringLiteral("class/tty/%1/type").arg(name)));
            if (!attribute.open(QIODevice::WriteOnly) || attribute.write(type.toLatin1() + '\n') < 0)
                return false;
        }
        if (driver.isEmpty())
            return true;
        const QString device = QStringLiteral("devices/") + name;
        const QString driverDir = QStringLiteral("drivers/") + driver;
        return base.mkpath(device) && base.mkpath(driverDir) &&
               QFile::link(base.filePath(device),
                           base.filePath(QStringLiteral("class/tty/%1/device").arg(name))) &&
               QFile::link(base.filePath(driverDir), base.filePath(device + QStringLiteral("/driver")));
    }

private:
    QTemporaryDir dir;
};
