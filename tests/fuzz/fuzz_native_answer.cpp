// libFuzzer target: arbitrary bytes through the native answer check and decoder, as the worker
// takes them from the line.
//
// Input: byte 0 the module the worker asked, byte 1 how many bytes the line delivered (the
// worker decodes a zero-filled 32-byte answer whatever arrived), the rest the answer bytes.
#include "link/DevicesGuiData.h"
#include "link/NativeFrame.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

// Undefined behaviour stops the run like a crash, so the fuzzer keeps the input.
extern "C" const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}

namespace {

constexpr size_t HeaderSize = 2;
constexpr std::uint32_t Untouched = 0xA5A5A5A5u;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The module number a request names must survive the round trip through its three bytes.
void checkRequest(const std::uint8_t* bytes)
{
    const int module = NativeFrame::requestedModule(bytes);
    require(module >= -1 && module <= 63);
    if (module < 0)
        return;
    const NativeFrame::Request again = NativeFrame::request(module);
    require(std::memcmp(again.data(), bytes, NativeFrame::requestSize) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < HeaderSize)
        return 0;
    const int asked = data[0];
    size_t received = data[1];
    if (received > NativeFrame::answerSize)
        received = NativeFrame::answerSize;
    if (received > size - HeaderSize)
        received = size - HeaderSize;

    // Every module number the address byte can carry comes back from its request.
    const NativeFrame::Request request = NativeFrame::request(asked & 0x3F);
    require(NativeFrame::requestedModule(request.data()) == (asked & 0x3F));

    // An exactly-sized heap copy of the delivered bytes: reads past them are seen.
    std::unique_ptr<std::uint8_t[]> line(new std::uint8_t[received]);
    std::memcpy(line.get(), data + HeaderSize, received);
    if (received >= static_cast<size_t>(NativeFrame::requestSize))
        checkRequest(line.get());

    NativeFrame::Answer answer{};
    std::memcpy(answer.data(), line.get(), received);

    unsigned sum = 0;
    for (int i = 0; i < NativeFrame::checksumByte; ++i)
        sum += answer[i];
    const bool wellFormed =
        answer[NativeFrame::checksumByte] == (sum & 0xFF) && answer[0] == NativeFrame::answerHeader;
    require(NativeFrame::answerChecksum(answer) == (sum & 0xFF));
    require(NativeFrame::isWellFormed(answer) == wellFormed);
    if (!wellFormed)
        return 0;

    MsdData entry;
    entry.valid = true;
    entry.msd_number = Untouched;
    NativeFrame::decode(answer, entry);
    require(entry.valid && entry.msd_number == Untouched);

    const double d = NativeFrame::divisor(answer[NativeFrame::divisorByte]);
    require(std::isfinite(d) && d >= 1.0);
    for (int j = 0; j < MsdData::channelCount; ++j) {
        const ChannelReading& c = entry.channel[j];
        const int raw = answer[1 + 3 * j] << 8 | answer[2 + 3 * j];
        require(std::isfinite(c.voltage) && c.voltage >= 0.0 && c.voltage <= 65535.0);
        require(std::fabs(c.voltage * d - raw) < 1e-6 * (raw + 1));
        require(std::isfinite(c.temperature) && std::fabs(c.temperature) <= 127.5);
        require(std::fabs(c.temperature) == 0.5 * answer[3 + 3 * j]);
        const bool negative = (answer[NativeFrame::signByte] >> j) & 1;
        require(!(c.temperature > 0.0 && negative) && !(c.temperature < 0.0 && !negative));
    }
    return 0;
}
