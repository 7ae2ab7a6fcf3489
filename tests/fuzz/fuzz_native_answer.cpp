// libFuzzer target: bytes through the native answer check and decoder, as the worker takes them.
// Byte 0 the module asked, byte 1 how many bytes the line delivered (the worker decodes a
// zero-filled 32-byte answer whatever arrived), the rest the answer.
#include "Require.h"
#include "link/DevicesGuiData.h"
#include "link/NativeFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t received = std::min<size_t>({data[1], NativeFrame::answerSize, size - 2});
    // Every module number the address byte can carry comes back from its request.
    require(NativeFrame::requestedModule(NativeFrame::request(data[0] & 0x3F).data()) == (data[0] & 0x3F));

    // An exactly-sized heap copy of the delivered bytes: reads past them are seen.
    std::unique_ptr<std::uint8_t[]> line(new std::uint8_t[received]);
    std::memcpy(line.get(), data + 2, received);
    if (received >= static_cast<size_t>(NativeFrame::requestSize)) {
        // The module a request names survives the round trip through its three bytes.
        const int module = NativeFrame::requestedModule(line.get());
        require(module >= -1 && module <= 63);
        require(module < 0 ||
                std::memcmp(NativeFrame::request(module).data(), line.get(), NativeFrame::requestSize) == 0);
    }
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
    entry.msd_number = 0xA5A5A5A5u;
    NativeFrame::decode(answer, entry);
    require(entry.valid && entry.msd_number == 0xA5A5A5A5u);
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
