#pragma once

#include "link/DevicesGuiData.h"

#include <array>
#include <cstdint>

// The native request and answer frames of the measuring modules.
namespace NativeFrame {

constexpr int requestSize = 3;
constexpr int answerSize = 32;
constexpr std::uint8_t command = 0x81;
constexpr std::uint8_t answerHeader = 0x55;
constexpr int signByte = 25;
constexpr int divisorByte = 29;
constexpr int moduleByte = 30;
constexpr int checksumByte = 31;

using Request = std::array<std::uint8_t, requestSize>;
using Answer = std::array<std::uint8_t, answerSize>;

// Address byte (module number in bits 2..7, bits 0 and 1 set), command, sum of both.
Request request(int module);
// The module a request addresses, or -1 when the bytes are not a request.
int requestedModule(const std::uint8_t* bytes);

// Sum of bytes 0..30 modulo 256.
std::uint8_t answerChecksum(const Answer& answer);
// Checksum right and header 0x55.
bool isWellFormed(const Answer& answer);
// The divisor of the raw voltages for the index in byte 29: 1.0 where the table has none.
float divisor(std::uint8_t index);
// Channel readings of a well-formed answer; valid and msd_number are left alone.
void decode(const Answer& answer, MsdData& entry);

} // namespace NativeFrame
