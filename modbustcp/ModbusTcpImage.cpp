#include "modbustcp/ModbusTcpImage.h"

#include "core/RoomSnapshot.h"
#include "core/StateCode.h"

#include <cmath>

quint16 ModbusTcpImage::voltageRegister(double volts)
{
    if (!std::isfinite(volts))
        return noVoltage;
    const double hundredths = std::round(volts * 100.0);
    if (hundredths <= 0)
        return 0;
    return hundredths >= voltageCeiling ? voltageCeiling : quint16(hundredths);
}

quint16 ModbusTcpImage::temperatureRegister(double celsius)
{
    if (!std::isfinite(celsius))
        return quint16(noTemperature);
    // -32768 means no data, so a reading is held within -32767 .. 32767.
    const double tenths = std::max(-32767.0, std::min(32767.0, std::round(celsius * 10.0)));
    return quint16(qint16(tenths));
}

ModbusTcpImage ModbusTcpImage::from(const RoomSnapshot& s)
{
    ModbusTcpImage image;
    auto& r = image.registers;
    for (int i = 0; i < RoomSnapshot::batteryCount; ++i) {
        const RoomSnapshot::BatteryEntry& b = s.batteries[size_t(i)];
        r[size_t(voltageBase + i)] = b.noData ? noVoltage : voltageRegister(b.voltage);
        r[size_t(temperatureBase + i)] =
            b.noData ? quint16(noTemperature) : temperatureRegister(b.temperature);
        r[size_t(stateBase + i)] = quint16(b.state);
        r[size_t(flagsBase + i)] =
            quint16((b.confirmed ? Confirmed : 0) |
                    (b.group >= 1 && b.group <= RoomSnapshot::groupCount ? InGroup : 0) |
                    (b.commLost ? CommLost : 0) | (b.limit.isEmpty() ? 0 : LimitCrossed));
        image.discrete[size_t(i)] = b.state >= StateCode::Warning;
        image.discrete[size_t(128 + i)] = b.state == StateCode::Emergency;
    }
    for (int g = 0; g < RoomSnapshot::groupCount; ++g) {
        const RoomSnapshot::GroupEntry& group = s.groups[size_t(g)];
        r[size_t(groupVoltageBase + g)] = voltageRegister(group.meanVoltage);
        r[size_t(groupTemperatureBase + g)] = temperatureRegister(group.meanTemperature);
    }
    r[emergencyCount] = quint16(s.summary.emergency);
    r[warningCount] = quint16(s.summary.warning);
    r[unconfirmedCount] = quint16(s.summary.unconfirmed);
    r[commLostCount] = quint16(s.summary.commLost);
    r[heartbeat] = quint16(s.sequence);
    r[polling] = s.summary.polling ? 1 : 0;
    r[mode] = s.summary.modbusMode ? 1 : 0;
    return image;
}
