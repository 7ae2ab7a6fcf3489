#pragma once

#include <QVector>

// What one battery's two registers say.
struct ModbusReading
{
    bool measured; // false: the device has no measurement for the channel
    double volts;
    double degrees;
};

// The readings of a group's batteries 0, 1, ... from a device's register table (voltages of
// channels 0..127, then their temperatures), the group's first battery on `firstChannel`
// (the group's Dat setting). Batteries past channel 127 get none; nor does any battery of a
// group without a first channel (negative).
QVector<ModbusReading> modbusGroupReadings(const QVector<quint16>& table, int firstChannel, int batteryCount);
