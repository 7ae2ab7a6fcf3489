// libFuzzer target: arbitrary requests and answers of up to 255 bytes through the Modbus answer check.
//
// Input: byte 0 flags, byte 1 stored request length (raw requests only), bytes 2-9 the request
// (slave, function, start, count, CRC as in a frame), the rest the answer.
#include "link/ModbusMaster.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

enum Flag : uint8_t
{
    RawRequest = 0x01,      // store the request bytes as given instead of building them
    MendRequestCrc = 0x02,  // raw request: give it a correct CRC
    MendAnswerCrc = 0x04,   // give the answer a correct CRC, so the later checks are reached
    CheckDirectly = 0x08,   // call the register-answer check instead of the whole parse
    NoAnswerPointer = 0x10, // leave the answer pointer missing
};

constexpr size_t HeaderSize = 10;
constexpr size_t MaxAnswer = 255;
constexpr uint16_t Pattern = 0xBEEF;

void mendCrc(uint8_t* frame, size_t length)
{
    if (length < 2)
        return;
    const uint16_t crc = modbusCrc16(frame, static_cast<uint16_t>(length - 2));
    frame[length - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[length - 1] = static_cast<uint8_t>(crc >> 8);
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

ModbusMasterState state;
uint16_t before[512];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < HeaderSize)
        return 0;
    const uint8_t flags = data[0];
    const uint8_t* request = data + 2;

    modbusMasterInit(&state);
    for (uint16_t& r : state.registers)
        r = Pattern;
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
    size_t length = size - HeaderSize;
    if (length > MaxAnswer)
        length = MaxAnswer;
    std::unique_ptr<uint8_t[]> answer(new uint8_t[length]);
    std::memcpy(answer.get(), data + HeaderSize, length);
    if (flags & MendAnswerCrc)
        mendCrc(answer.get(), length);
    state.answer = (flags & NoAnswerPointer) ? nullptr : answer.get();
    state.answerLength = static_cast<uint8_t>(length);

    const ModbusResult result = (flags & CheckDirectly)
                                    ? modbusCheckReadAnswer(&state, state.answer, state.request)
                                    : modbusParseAnswer(&state);

    switch (result) {
    case MbOk: {
        require(state.dataCount >= 1 && state.dataCount <= 125);
        require(2u * state.dataCount + 5 == length);
        require(state.answerFault == FaultNone);
        for (unsigned i = 0; i < state.dataCount; ++i)
            require(state.registers[i] == (answer[3 + 2 * i] << 8 | answer[4 + 2 * i]));
        for (unsigned i = state.dataCount; i < 512; ++i)
            require(state.registers[i] == before[i]);
        break;
    }
    case MbException:
        require(length == 5 && (answer[1] & 0x80));
        require(std::memcmp(state.registers, before, sizeof before) == 0);
        break;
    case MbBadAnswer:
        require(state.answerFault != FaultNone);
        require(std::memcmp(state.registers, before, sizeof before) == 0);
        require(state.dataCount == 0 && state.dataType == ModbusNoData);
        break;
    case MbNullArgument:
        require(state.answer == nullptr);
        break;
    default:
        require(false);
    }
    return 0;
}
