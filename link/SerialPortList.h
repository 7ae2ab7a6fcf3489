#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Asks a port for its UART type (TIOCGSERIAL); -1 when it cannot be asked.
using SerialTypeProbe = std::function<int(const QString& name)>;

// The serial ports the kernel knows, from its tty table: every entry with a device behind
// it, less the serial-core ports that have no UART (type 0). Names come without "/dev/",
// in natural order: ttyS0, ttyS1, ttyS2, ttyS10, ttyUSB0.
// The UART type is read from the table's "type" attribute, which every user may read, so a
// port the user has no rights on is still listed (opening it then says why it fails). Only
// where the kernel has no such attribute is the port itself asked through the probe.
QStringList listSerialPorts();
QStringList listSerialPorts(const QString& ttyClassRoot, const SerialTypeProbe& probe);

// The stable names udev gives the port /dev/<name> in byIdFolder (/dev/serial/by-id): full
// paths of the links whose target is that port, sorted. They name the adapter (maker, serial
// number), so they survive a reboot or re-plugging that renumbers ttyUSB*.
QStringList stableSerialNames(const QString& name,
                              const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

// The type the kernel reports for /dev/<name>, or -1.
int probeSerialType(const QString& name);
// Natural order of port names: digit runs compare as numbers.
bool serialPortNameLess(const QString& a, const QString& b);
