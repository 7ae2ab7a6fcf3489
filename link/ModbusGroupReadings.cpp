#include "link/ModbusGroupReadings.h"

namespace {
constexpr int kChannels = 128;
// A channel without a measurement reads both of these; 0 V alone is a dead battery.
constexpr quint16 kNoVoltage = 0;
constexpr quint16 kNoTemperature = 2550;
} // namespace

QVector<ModbusReading> modbusGroupReadings(const QVector<quint16>& table, int firstChannel, int batteryCount)
{
    QVector<ModbusReading> readings;
    for (int i = 0; firstChannel >= 0 && i < batteryCount && firstChannel + i < kChannels; ++i) {
        const int channel = firstChannel + i;
        const quint16 voltage = table.value(channel);
        const quint16 temperature = table.value(channel + kChannels);
        const bool measured = voltage != kNoVoltage || temperature != kNoTemperature;
        readings.append({measured, voltage * 0.01, temperature * 0.1});
    }
    return readings;
}
