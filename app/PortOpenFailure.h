#pragma once

#include <QSerialPort>
#include <QString>
#include <cstdint>

// What the operator reads when a serial port does not open: which port, the system's reason
// and, when the user has no rights on the device, what to do about it. Without that last
// line a refused port looks like a broken one.
class PortOpenFailure
{
public:
    // The native port: its device path and the system's error code.
    static QString nativeText(const QString& path, std::uint32_t error);
    // The Modbus port: the name chosen in the selector and what the port reported.
    static QString modbusText(const QString& name, QSerialPort::SerialPortError error,
                              const QString& errorText);
    static QString accessHint();
};
