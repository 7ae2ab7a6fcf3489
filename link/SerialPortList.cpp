#include "link/SerialPortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
const QString kTtyClassRoot = QStringLiteral("/sys/class/tty");
constexpr int kUnknownPortType = 0; // PORT_UNKNOWN: a serial-core port without hardware

// Ports of the serial core: platform 8250 ports are registered whether or not a UART
// answers there. Older kernels name the 8250 driver, newer ones the serial-base port.
bool isSerialCorePort(const QString& entry)
{
    const QString driver =
        QFileInfo(QFileInfo(entry + QStringLiteral("/device/driver")).canonicalFilePath()).fileName();
    return driver == QLatin1String("serial8250") || driver == QLatin1String("port");
}

// The UART type the kernel publishes for the entry, or -1 when it publishes none.
int publishedSerialType(const QString& entry)
{
    QFile file(entry + QStringLiteral("/type"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int type = file.readAll().trimmed().toInt(&ok);
    return ok ? type : -1;
}

// Splits at the boundaries between digits and other characters.
QStringList naturalParts(const QString& name)
{
    QStringList parts;
    for (const QChar c : name) {
        if (parts.isEmpty() || parts.last().back().isDigit() != c.isDigit())
            parts.append(QString(c));
        else
            parts.last().append(c);
    }
    return parts;
}
} // namespace

bool serialPortNameLess(const QString& a, const QString& b)
{
    const QStringList pa = naturalParts(a);
    const QStringList pb = naturalParts(b);
    for (int i = 0; i < pa.size() && i < pb.size(); ++i) {
        const QString& x = pa[i];
        const QString& y = pb[i];
        if (x == y)
            continue;
        if (x.front().isDigit() && y.front().isDigit()) {
            // Compare as numbers without overflow: strip leading zeros, then length, then text.
            QString nx = x, ny = y;
            while (nx.size() > 1 && nx.front() == QLatin1Char('0'))
                nx.remove(0, 1);
            while (ny.size() > 1 && ny.front() == QLatin1Char('0'))
                ny.remove(0, 1);
            if (nx.size() != ny.size())
                return nx.size() < ny.size();
            if (nx != ny)
                return nx < ny;
            return x.size() < y.size();
        }
        return x < y;
    }
    return pa.size() < pb.size();
}

int probeSerialType(const QString& name)
{
    const QByteArray path = QFile::encodeName(QStringLiteral("/dev/") + name);
    const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    serial_struct info{};
    const int result = ::ioctl(fd, TIOCGSERIAL, &info);
    ::close(fd);
    return result == 0 ? info.type : -1;
}

QStringList listSerialPorts(const QString& ttyClassRoot, const SerialTypeProbe& probe)
{
    QStringList names;
    const QDir root(ttyClassRoot);
    const QStringList entries = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : entries) {
        const QString entry = root.filePath(name);
        if (!QFileInfo::exists(entry + QStringLiteral("/device")))
            continue;
        if (isSerialCorePort(entry)) {
            int type = publishedSerialType(entry);
            if (type == -1 && probe)
                type = probe(name);
            if (type == -1 || type == kUnknownPortType)
                continue;
        }
        names.append(name);
    }
    std::sort(names.begin(), names.end(), serialPortNameLess);
    return names;
}

QStringList stableSerialNames(const QString& name, const QString& byIdFolder)
{
    QStringList links;
    const QDir folder(byIdFolder);
    for (const QFileInfo& link :
         folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        // udev writes ../../ttyUSB0; the target need not be reachable from here to be named.
        if (link.isSymLink() && QFileInfo(link.symLinkTarget()).fileName() == name)
            links.append(link.absoluteFilePath());
    }
    return links;
}

QStringList listSerialPorts()
{
    return listSerialPorts(kTtyClassRoot, probeSerialType);
}
