#include "modbustcp/ModbusTcpFrames.h"

namespace ModbusTcpFrames {

namespace {

quint16 word(const QByteArray& bytes, int at)
{
    return quint16(quint8(bytes[at]) << 8 | quint8(bytes[at + 1]));
}

void appendWord(QByteArray& bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xff));
}

QModbusResponse exception(const QModbusRequest& request, QModbusExceptionResponse::ExceptionCode code)
{
    return QModbusExceptionResponse(request.functionCode(), code);
}

} // namespace

Take takeFrame(QByteArray& buffer, Frame* frame)
{
    if (buffer.size() < headerSize)
        return Take::NeedMore;
    const quint16 protocol = word(buffer, 2), length = word(buffer, 4);
    if (protocol != 0 || length < 2 || length > maxPduSize + 1)
        return Take::Garbage;
    const int total = headerSize - 1 + length;
    if (buffer.size() < total)
        return Take::NeedMore;
    frame->transaction = word(buffer, 0);
    frame->unit = quint8(buffer[6]);
    frame->request = QModbusRequest(QModbusPdu::FunctionCode(quint8(buffer[7])), buffer.mid(8, total - 8));
    buffer.remove(0, total);
    return Take::Frame;
}

QModbusResponse answer(const QModbusRequest& request, const ModbusTcpImage& image)
{
    const QModbusPdu::FunctionCode function = request.functionCode();
    const bool registers =
        function == QModbusPdu::ReadHoldingRegisters || function == QModbusPdu::ReadInputRegisters;
    if (request.isException() || (!registers && function != QModbusPdu::ReadDiscreteInputs))
        return exception(request, QModbusExceptionResponse::IllegalFunction);
    const QByteArray data = request.data();
    const int limit = registers ? 125 : 2000;
    const quint16 count = data.size() == 4 ? word(data, 2) : 0;
    if (count < 1 || count > limit)
        return exception(request, QModbusExceptionResponse::IllegalDataValue);
    const int address = word(data, 0);
    const int size = registers ? ModbusTcpImage::registerCount : ModbusTcpImage::discreteCount;
    if (address + count > size)
        return exception(request, QModbusExceptionResponse::IllegalDataAddress);
    QByteArray body;
    if (registers) {
        body.append(char(count * 2));
        for (int i = address; i < address + count; ++i)
            appendWord(body, image.registers[size_t(i)]);
    } else {
        QByteArray bits((count + 7) / 8, '\0');
        for (int i = 0; i < count; ++i)
            if (image.discrete[size_t(address + i)])
                bits[i / 8] = char(quint8(bits[i / 8]) | (1 << (i % 8)));
        body.append(char(bits.size()));
        body.append(bits);
    }
    return QModbusResponse(function, body);
}

QByteArray respond(const Frame& frame, const QModbusResponse& response)
{
    const QByteArray pdu = response.data();
    QByteArray bytes;
    bytes.reserve(headerSize + 1 + pdu.size());
    appendWord(bytes, frame.transaction);
    appendWord(bytes, 0);
    appendWord(bytes, quint16(2 + pdu.size()));
    bytes.append(char(frame.unit));
    bytes.append(char(quint8(response.functionCode()) | (response.isException() ? 0x80 : 0)));
    bytes.append(pdu);
    return bytes;
}

} // namespace ModbusTcpFrames
