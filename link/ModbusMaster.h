#pragma once

#include <cstdint>

// Master side of Modbus RTU: read requests for functions 3 and 4 and the checks of the
// slave's answer. Plain functions over one record; no I/O, no timing, no allocation.

// The two read functions the master asks for.
constexpr uint8_t ModbusReadHoldingRegisters = 3;
constexpr uint8_t ModbusReadInputRegisters = 4;

enum ModbusResult : int32_t
{
    MbOk = 0,
    MbException = 1,
    MbNullArgument = 4,
    MbBadAnswer = 5,
    MbBadRequest = 6,
};

enum ModbusFault : int32_t
{
    FaultNone = 0,
    FaultCrc = 1,
    FaultLength = 2,
    FaultCount = 3,
    FaultUnknownFunction = 9,
    FaultUnsupportedFunction = 10,
    FaultFunctionMismatch = 12,
    FaultAddressMismatch = 13,
    FaultBroadcast = 18,
};

enum ModbusDataType : int32_t
{
    ModbusNoData = 0,
    ModbusHoldingRegisters = 1,
    ModbusInputRegisters = 2,
};

struct ModbusMasterState
{
    uint8_t expectedAnswerLength; // 2 × count + 5 for the last built request
    uint8_t request[1024];        // only the first 8 bytes are used
    uint8_t requestLength;
    const uint8_t* answer; // owned by the caller, alive during a parse
    uint8_t answerLength;
    uint8_t dataSlave;
    uint16_t dataStart;
    uint16_t dataCount;
    uint8_t dataByteCount;
    ModbusDataType dataType;
    uint8_t dataFunction;
    uint16_t registers[512]; // host order, index 0 = dataStart
    uint8_t exceptionSlave;
    uint8_t exceptionFunction;
    int32_t exceptionCode;
    ModbusFault answerFault;
    ModbusFault requestFault;
};

ModbusResult modbusMasterInit(ModbusMasterState* state);
ModbusResult modbusBuildReadRequest(ModbusMasterState* state, uint8_t function, uint8_t slave, uint16_t start,
                                    uint16_t count);
// Judges state->answer / state->answerLength against the stored request.
ModbusResult modbusParseAnswer(ModbusMasterState* state);
// The register-answer check that modbusParseAnswer ends in; lengths come from the record.
ModbusResult modbusCheckReadAnswer(ModbusMasterState* state, const uint8_t* answer, const uint8_t* request);

// Modbus CRC-16 (initial 0xFFFF, reflected polynomial 0xA001); sent low byte first.
uint16_t modbusCrc16(const uint8_t* data, uint16_t length);

// Bit 0 is the lowest bit of byte 0. Both return -1 for a missing mask or a bit past its end.
int modbusGetBit(const uint8_t* mask, uint16_t maskLength, uint16_t bit);
int modbusSetBit(uint8_t* mask, uint16_t maskLength, uint16_t bit, int value);
