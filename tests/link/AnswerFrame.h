#pragma once

#include <QByteArray>
#include <cstdint>

// Builds module answers the way the modules send them, from raw channel values.
struct AnswerFrame
{
    std::uint16_t rawVolts[8] = {};
    std::uint8_t halfDegrees[8] = {};
    std::uint8_t signBits = 0;
    std::uint8_t divisorIndex = 0;
    std::uint8_t header = 0x55;
    int checksumError = 0;

    // Channel j reads 2400 + 10 * module + j raw (12.00 V and up at divisor 200) and
    // 40 + j half degrees.
    static AnswerFrame typical(int module)
    {
        AnswerFrame f;
        for (int j = 0; j < 8; ++j) {
            f.rawVolts[j] = static_cast<std::uint16_t>(2400 + 10 * module + j);
            f.halfDegrees[j] = static_cast<std::uint8_t>(40 + j);
        }
        return f;
    }

    QByteArray bytes(int moduleNumber) const
    {
        QByteArray b(32, '\0');
        b[0] = static_cast<char>(header);
        for (int j = 0; j < 8; ++j) {
            b[1 + 3 * j] = static_cast<char>(rawVolts[j] >> 8);
            b[2 + 3 * j] = static_cast<char>(rawVolts[j] & 0xFF);
            b[3 + 3 * j] = static_cast<char>(halfDegrees[j]);
        }
        b[25] = static_cast<char>(signBits);
        b[29] = static_cast<char>(divisorIndex);
        b[30] = static_cast<char>(moduleNumber);
        std::uint8_t sum = 0;
        for (int i = 0; i < 31; ++i)
            sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(b[i]));
        b[31] = static_cast<char>(sum + checksumError);
        return b;
    }
};
