// libFuzzer target: the input as one connection's bytes, taken frame by frame and each answered
// from an image whose registers and inputs come from the input's first bytes.
#include "Require.h"
#include "modbustcp/ModbusTcpFrames.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ModbusTcpImage image;
    for (size_t i = 0; i < image.registers.size(); ++i)
        image.registers[i] = quint16(size ? data[i % size] * 257 + i : i),
        image.discrete[i % 256] = i % 3 == 0;
    QByteArray buffer(reinterpret_cast<const char*>(data), int(size));
    ModbusTcpFrames::Frame frame;
    for (;;) {
        const int before = buffer.size();
        const ModbusTcpFrames::Take take = ModbusTcpFrames::takeFrame(buffer, &frame);
        if (take != ModbusTcpFrames::Take::Frame) {
            require(buffer.size() == before);
            return 0;
        }
        require(before - buffer.size() <= 260 && before - buffer.size() >= 8);
        const QByteArray reply =
            ModbusTcpFrames::respond(frame, ModbusTcpFrames::answer(frame.request, image));
        require(reply.size() <= 260 && (quint8(reply[4]) << 8 | quint8(reply[5])) + 6 == reply.size());
        require(quint8(reply[7]) == (quint8(frame.request.functionCode()) | (reply.size() == 9 ? 0x80 : 0)));
    }
}
