#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A stand-in for the kernel's table of tty devices: a folder per entry, with a device link (and
// that device's driver link) where a driver is named, and the UART type the kernel publishes.
struct FakeTtyTable
{
    QTemporaryDir dir;
    QString root() const { return dir.filePath("class/tty"); }

    bool add(const QString& name, const QString& driver, const QString& type = QString())
    {
        const QDir base(dir.path());
        const QString entry = "class/tty/" + name, device = "devices/" + name;
        QFile attribute(base.filePath(entry + "/type"));
        return base.mkpath(entry) &&
               (type.isEmpty() ||
                (attribute.open(QIODevice::WriteOnly) && attribute.write(type.toLatin1() + "\n") > 0)) &&
               (driver.isEmpty() ||
                (base.mkpath(device) && base.mkpath("drivers/" + driver) &&
                 QFile::link(base.filePath(device), base.filePath(entry + "/device")) &&
                 QFile::link(base.filePath("drivers/" + driver), base.filePath(device + "/driver"))));
    }
};
