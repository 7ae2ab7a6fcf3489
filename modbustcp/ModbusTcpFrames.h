#pragma once

#include "modbustcp/ModbusTcpImage.h"

#include <QByteArray>
#include <QModbusPdu>

// The server's own handling of a client's bytes: Modbus TCP frames (the 7-byte MBAP header and
// the PDU) taken off a connection's buffer, and the read-only answer from an image.
namespace ModbusTcpFrames {

struct Frame
{
    quint16 transaction = 0;
    quint8 unit = 0;
    QModbusRequest request;
};

enum class Take
{
    Frame,    // *frame holds the next request, its bytes are gone from the buffer
    NeedMore, // an incomplete frame: wait for more bytes
    Garbage   // not Modbus TCP (protocol id or length out of range): close the connection
};

// The header's length counts the unit and the PDU: 2 .. 254 bytes.
constexpr int headerSize = 7;
constexpr int maxPduSize = 253;

Take takeFrame(QByteArray& buffer, Frame* frame);
// The read-only answer: input and holding registers (4, 3) and discrete inputs (2) from the
// image; any other function, every write among them, exception 01; a count beyond the
// function's limit exception 03; an address beyond the map exception 02.
QModbusResponse answer(const QModbusRequest& request, const ModbusTcpImage& image);
// The response frame for `frame`, with its transaction and unit.
QByteArray respond(const Frame& frame, const QModbusResponse& response);

} // namespace ModbusTcpFrames
