#include "link/NativeFrame.h"

#include <cstring>

namespace NativeFrame {

namespace {
float floatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
} // namespace

Request request(int module)
{
    const auto address = static_cast<std::uint8_t>(module * 4 + 3);
    return {address, command, static_cast<std::uint8_t>(address + command)};
}

int requestedModule(const std::uint8_t* bytes)
{
    if ((bytes[0] & 0x03) != 0x03 || bytes[1] != command ||
        bytes[2] != static_cast<std::uint8_t>(bytes[0] + command))
        return -1;
    return bytes[0] >> 2;
}

std::uint8_t answerChecksum(const Answer& answer)
{
    std::uint8_t sum = 0;
    for (int i = 0; i < checksumByte; ++i)
        sum = static_cast<std::uint8_t>(sum + answer[i]);
    return sum;
}

bool isWellFormed(const Answer& answer)
{
    return answer[checksumByte] == answerChecksum(answer) && answer[0] == answerHeader;
}

float divisor(std::uint8_t index)
{
    switch (index) {
    case 0:
        return 200.0f;
    case 6:
        return 350.0f;
    case 12:
        return 840.0f;
    case 15:
        return floatFromBits(0x4240CE7Du);
    default:
        return 1.0f;
    }
}

void decode(const Answer& answer, MsdData& entry)
{
    const double d = divisor(answer[divisorByte]);
    for (int j = 0; j < MsdData::channelCount; ++j) {
        const int raw = 256 * answer[1 + 3 * j] + answer[2 + 3 * j];
        entry.channel[j].voltage = raw / d;
        const double temperature = 0.5 * answer[3 + 3 * j];
        entry.channel[j].temperature = (answer[signByte] >> j) & 1 ? -temperature : temperature;
    }
}

} // namespace NativeFrame
