// libFuzzer target: requests and answers of up to 255 bytes through the Modbus answer check.
// Byte 0 flags, byte 1 the stored request's length (raw requests), bytes 2-9 the request, the rest
// the answer.
#include "Require.h"
#include "link/ModbusMaster.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {
enum Flag : uint8_t
{
    RawRequest = 0x01,      // the request bytes stored as given, not built
    MendRequestCrc = 0x02,  // a raw request with a correct CRC
    MendAnswerCrc = 0x04,   // an answer with a correct CRC, so the later checks are reached
    CheckDirectly = 0x08,   // the register-answer check instead of the whole parse
    NoAnswerPointer = 0x10, // the answer pointer missing
};

void mendCrc(uint8_t* frame, size_t length)
{
    if (length < 2)
        return;
    const uint16_t crc = modbusCrc16(frame, static_cast<uint16_t>(length - 2));
    frame[length - 2] = static_cast<uint8_t>(crc & 0xFF), frame[length - 1] = static_cast<uint8_t>(crc >> 8);
}

ModbusMasterState state;
uint16_t before[512];
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 10)
        return 0;
    const uint8_t flags = data[0], *request = data + 2;
    modbusMasterInit(&state);
    std::fill_n(state.registers, 512, uint16_t(0xBEEF));
    if (flags & RawRequest) {
        std::memcpy(state.request, request, 8);
        state.requestLength = data[1];
        if (flags & MendRequestCrc)
            mendCrc(state.request, state.requestLength);
    } else {
        modbusBuildReadRequest(&state, request[1], request[0],
                               static_cast<uint16_t>(request[2] << 8 | request[3]),
                               static_cast<uint16_t>(request[4] << 8 | request[5]));
    }
    std::memcpy(before, state.registers, sizeof before);

    // An exactly-sized heap copy: any read past the answer is seen by the address sanitizer.
    const size_t length = std::min<size_t>(size - 10, 255);
    std::unique_ptr<uint8_t[]> answer(new uint8_t[length]);
    std::memcpy(answer.get(), data + 10, length);
    if (flags & MendAnswerCrc)
        mendCrc(answer.get(), length);
    state.answer = (flags & NoAnswerPointer) ? nullptr : answer.get();
    state.answerLength = static_cast<uint8_t>(length);
    const ModbusResult result = (flags & CheckDirectly)
                                    ? modbusCheckReadAnswer(&state, state.answer, state.request)
                                    : modbusParseAnswer(&state);
    const bool untouched = std::memcmp(state.registers, before, sizeof before) == 0;
    switch (result) {
    case MbOk:
        require(state.dataCount >= 1 && state.dataCount <= 125 && 2u * state.dataCount + 5 == length);
        require(state.answerFault == FaultNone);
        for (unsigned i = 0; i < 512; ++i)
            require(state.registers[i] ==
                    (i < state.dataCount ? answer[3 + 2 * i] << 8 | answer[4 + 2 * i] : before[i]));
        break;
    case MbException:
        require(length == 5 && (answer[1] & 0x80) && untouched);
        break;
    case MbBadAnswer:
        require(state.answerFault != FaultNone && untouched);
        require(state.dataCount == 0 && state.dataType == ModbusNoData);
        break;
    default:
        require(result == MbNullArgument && state.answer == nullptr);
    }
    return 0;
}
