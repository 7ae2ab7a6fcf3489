#include "link/ModbusMaster.h"

#include <cstring>

namespace {

constexpr uint8_t ExceptionBit = 0x80;
constexpr uint16_t MaxReadCount = 125;
constexpr unsigned MaxByteCount = 250;
constexpr uint8_t RequestFrameLength = 8;
constexpr uint8_t ExceptionFrameLength = 5;
// Slave, function and byte count before the data, the CRC after it.
constexpr unsigned AnswerOverhead = 5;

struct CrcTables
{
    uint16_t slice[4][256];
};

// slice[0][b] is the bitwise algorithm run over byte b from a zero register; slice[k][b] is the same
// byte followed by k zero bytes. Four bytes then fold in with independent look-ups, which keeps
// the 255-byte answer well inside its time budget, and the result stays exactly the bitwise one.
constexpr CrcTables makeCrcTables()
{
    CrcTables tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<uint16_t>(crc >> 1);
        tables.slice[0][byte] = crc;
    }
    for (int k = 1; k < 4; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const uint16_t previous = tables.slice[k - 1][byte];
            tables.slice[k][byte] =
                static_cast<uint16_t>((previous >> 8) ^ tables.slice[0][previous & 0xFFu]);
        }
    }
    return tables;
}

constexpr CrcTables crcTables = makeCrcTables();

bool isReadFunction(uint8_t function)
{
    return function == ModbusReadHoldingRegisters || function == ModbusReadInputRegisters;
}

uint16_t bigEndian16(const uint8_t* bytes)
{
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

// The last two bytes hold the CRC of the bytes before them, low byte first. length >= 2.
bool frameCrcMatches(const uint8_t* frame, unsigned length)
{
    const uint16_t crc = modbusCrc16(frame, static_cast<uint16_t>(length - 2));
    return frame[length - 2] == (crc & 0xFFu) && frame[length - 1] == (crc >> 8);
}

void clearException(ModbusMasterState* state)
{
    state->exceptionSlave = 0;
    state->exceptionFunction = 0;
    state->exceptionCode = 0;
}

void clearDecoded(ModbusMasterState* state)
{
    state->dataSlave = 0;
    state->dataStart = 0;
    state->dataCount = 0;
    state->dataByteCount = 0;
    state->dataType = ModbusNoData;
    state->dataFunction = 0;
}

ModbusResult rejectAnswer(ModbusMasterState* state, ModbusFault fault)
{
    state->answerFault = fault;
    return MbBadAnswer;
}

ModbusResult rejectRequest(ModbusMasterState* state, ModbusFault fault)
{
    state->requestFault = fault;
    return MbBadRequest;
}

} // namespace

ModbusResult modbusMasterInit(ModbusMasterState* state)
{
    if (!state)
        return MbNullArgument;
    std::memset(state->request, 0, sizeof state->request);
    state->requestLength = 0;
    state->answer = nullptr;
    state->answerLength = 0;
    std::memset(state->registers, 0, sizeof state->registers);
    clearDecoded(state);
    clearException(state);
    return MbOk;
}

ModbusResult modbusBuildReadRequest(ModbusMasterState* state, uint8_t function, uint8_t slave, uint16_t start,
                                    uint16_t count)
{
    if (!state)
        return MbNullArgument;
    // A refused function or slave keeps the earlier request usable.
    if (!isReadFunction(function))
        return rejectRequest(state, FaultUnsupportedFunction);
    if (slave == 0)
        return rejectRequest(state, FaultBroadcast);

    state->requestLength = 0;
    state->expectedAnswerLength = 0;
    if (count == 0 || count > MaxReadCount)
        return rejectRequest(state, FaultCount);

    uint8_t* frame = state->request;
    frame[0] = slave;
    frame[1] = function;
    frame[2] = static_cast<uint8_t>(start >> 8);
    frame[3] = static_cast<uint8_t>(start & 0xFFu);
    frame[4] = static_cast<uint8_t>(count >> 8);
    frame[5] = static_cast<uint8_t>(count & 0xFFu);
    const uint16_t crc = modbusCrc16(frame, 6);
    frame[6] = static_cast<uint8_t>(crc & 0xFFu);
    frame[7] = static_cast<uint8_t>(crc >> 8);

    state->requestLength = RequestFrameLength;
    state->requestFault = FaultNone;
    state->expectedAnswerLength = static_cast<uint8_t>(2 * count + AnswerOverhead);
    return MbOk;
}

ModbusResult modbusParseAnswer(ModbusMasterState* state)
{
    if (!state)
        return MbNullArgument;
    clearException(state);
    clearDecoded(state);

    const uint8_t* answer = state->answer;
    const unsigned answerLength = state->answerLength;
    if (answerLength <= 3 || !answer || state->requestLength <= 3)
        return rejectAnswer(state, FaultLength);
    if (!frameCrcMatches(answer, answerLength))
        return rejectAnswer(state, FaultCrc);
    if (!frameCrcMatches(state->request, state->requestLength))
        return rejectAnswer(state, FaultCrc);
    state->answerFault = FaultNone;

    const uint8_t function = answer[1];
    if ((function & ExceptionBit) && answerLength == ExceptionFrameLength) {
        state->exceptionSlave = answer[0];
        state->exceptionFunction = function;
        state->exceptionCode = answer[2];
        return MbException;
    }
    if (!isReadFunction(function))
        return rejectAnswer(state, FaultUnknownFunction);
    return modbusCheckReadAnswer(state, answer, state->request);
}

ModbusResult modbusCheckReadAnswer(ModbusMasterState* state, const uint8_t* answer, const uint8_t* request)
{
    if (!state || !answer || !request)
        return MbNullArgument;
    const unsigned answerLength = state->answerLength;
    // Slave, function and byte count must be there before any of them is read.
    if (answerLength < 3)
        return rejectAnswer(state, FaultLength);

    const uint8_t function = answer[1];
    if (!isReadFunction(function))
        return rejectAnswer(state, FaultUnsupportedFunction);
    const unsigned byteCount = answer[2];
    if (answerLength != byteCount + AnswerOverhead || state->requestLength != RequestFrameLength)
        return rejectAnswer(state, FaultLength);
    if (answer[0] == 0)
        return rejectAnswer(state, FaultBroadcast);
    if (answer[0] != request[0])
        return rejectAnswer(state, FaultAddressMismatch);
    if (function != request[1])
        return rejectAnswer(state, FaultFunctionMismatch);
    if (byteCount == 0 || byteCount > MaxByteCount)
        return rejectAnswer(state, FaultLength);
    // Full-width arithmetic: a stored count of 131 must not pass for 3 registers.
    const unsigned count = bigEndian16(request + 4);
    if (byteCount != 2 * count)
        return rejectAnswer(state, FaultLength);

    for (unsigned i = 0; i < count; ++i)
        state->registers[i] = bigEndian16(answer + 3 + 2 * i);

    state->dataSlave = answer[0];
    state->dataFunction = function;
    state->dataType = function == ModbusReadHoldingRegisters ? ModbusHoldingRegisters : ModbusInputRegisters;
    state->dataCount = static_cast<uint16_t>(count);
    state->dataStart = bigEndian16(request + 2);
    state->dataByteCount = static_cast<uint8_t>(byteCount);
    state->answerFault = FaultNone;
    return MbOk;
}

uint16_t modbusCrc16(const uint8_t* data, uint16_t length)
{
    if (!data)
        return 0;
    const auto& t = crcTables.slice;
    unsigned crc = 0xFFFF;
    unsigned left = length;
    for (; left >= 4; left -= 4, data += 4) {
        crc ^= data[0] | (data[1] << 8);
        crc = t[3][crc & 0xFFu] ^ t[2][crc >> 8] ^ t[1][data[2]] ^ t[0][data[3]];
    }
    for (; left > 0; --left, ++data)
        crc = (crc >> 8) ^ t[0][(crc ^ *data) & 0xFFu];
    return static_cast<uint16_t>(crc);
}

int modbusGetBit(const uint8_t* mask, uint16_t maskLength, uint16_t bit)
{
    if (!mask || bit / 8 >= maskLength)
        return -1;
    return (mask[bit / 8] >> (bit % 8)) & 1;
}

int modbusSetBit(uint8_t* mask, uint16_t maskLength, uint16_t bit, int value)
{
    if (!mask || bit / 8 >= maskLength)
        return -1;
    const uint8_t bitMask = static_cast<uint8_t>(1u << (bit % 8));
    if (value)
        mask[bit / 8] |= bitMask;
    else
        mask[bit / 8] = static_cast<uint8_t>(mask[bit / 8] & ~bitMask);
    return 0;
}
