#pragma once

#include <QtGlobal>

#include <array>
#include <bitset>

struct RoomSnapshot;

// What the Modbus TCP server shows of one sweep: the registers served both as input and as
// holding registers, and the discrete inputs. Made whole from a snapshot and swapped in at
// once, so a client never reads half of one sweep and half of another.
struct ModbusTcpImage
{
    static constexpr int registerCount = 531;
    static constexpr int discreteCount = 256;
    // Register blocks, each of a battery i at base + i or of a group g (1..6) at base + g - 1.
    static constexpr int voltageBase = 0;       // 0.01 V unsigned; 65535 no data; 65534 above 655.34 V
    static constexpr int temperatureBase = 128; // 0.1 °C signed; -32768 no data
    static constexpr int stateBase = 256;       // 0 no data, 1 normal, 2 warning, 3 emergency
    static constexpr int flagsBase = 384;       // the Flag bits
    static constexpr int groupVoltageBase = 512;
    static constexpr int groupTemperatureBase = 518;
    static constexpr int emergencyCount = 524;
    static constexpr int warningCount = 525;
    static constexpr int unconfirmedCount = 526;
    static constexpr int commLostCount = 527;
    static constexpr int heartbeat = 528; // the sweep counter modulo 65536
    static constexpr int polling = 529;
    static constexpr int mode = 530; // 0 native, 1 Modbus
    static constexpr quint16 noVoltage = 65535;
    static constexpr quint16 voltageCeiling = 65534;
    static constexpr qint16 noTemperature = -32768;
    enum Flag : quint16
    {
        Confirmed = 1,
        InGroup = 2,
        CommLost = 4,
        LimitCrossed = 8
    };

    std::array<quint16, registerCount> registers{};
    // Battery i in warning or emergency at i, in emergency at 128 + i.
    std::bitset<discreteCount> discrete;

    static ModbusTcpImage from(const RoomSnapshot& snapshot);
    static quint16 voltageRegister(double volts);
    static quint16 temperatureRegister(double celsius);
};
