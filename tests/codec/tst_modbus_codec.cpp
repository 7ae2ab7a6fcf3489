#include "link/ModbusMaster.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

// Rows are named by the frame in hex. CRCs in the tables come from the Modbus literature or
// from pymodbus, never from this codec.
namespace {

// The request most answers below are judged against: slave 1, function 3, start 3, 3 registers.
const char* const RequestFor3 = "01 03 00 03 00 03 F5 CB";
const char* const AnswerFor3 = "01 03 06 12 34 AB CD 00 FF 62 58";
constexpr uint16_t Untouched = 0xBEEF;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray requestBytes(const ModbusMasterState& state)
{
    return QByteArray(reinterpret_cast<const char*>(state.request), state.requestLength);
}

// A record plus an answer buffer of exactly the answer's size, so a sanitizer sees any read past it.
class Codec
{
public:
    Codec() : m_state(std::make_unique<ModbusMasterState>()) { modbusMasterInit(m_state.get()); }

    ModbusMasterState& state() { return *m_state; }

    ModbusResult build(uint8_t function, uint8_t slave, uint16_t start, uint16_t count)
    {
        return modbusBuildReadRequest(m_state.get(), function, slave, start, count);
    }

    // Builds a request from its frame: slave, function, start and count are taken from it.
    ModbusResult build(const QByteArray& frame)
    {
        const auto* b = reinterpret_cast<const uint8_t*>(frame.constData());
        return build(b[1], b[0], static_cast<uint16_t>(b[2] << 8 | b[3]),
                     static_cast<uint16_t>(b[4] << 8 | b[5]));
    }

    // Stores a request frame as it stands, bypassing the builder.
    void storeRequest(const QByteArray& frame)
    {
        std::memcpy(m_state->request, frame.constData(), static_cast<size_t>(frame.size()));
        m_state->requestLength = static_cast<uint8_t>(frame.size());
    }

    ModbusResult parse(const QByteArray& answer)
    {
        point(answer);
        return modbusParseAnswer(m_state.get());
    }

    void point(const QByteArray& answer)
    {
        m_answer.assign(answer.begin(), answer.end());
        m_state->answer = m_answer.empty() ? nullptr : m_answer.data();
        m_state->answerLength = static_cast<uint8_t>(answer.size());
    }

    void fillRegisters(uint16_t value)
    {
        for (uint16_t& r : m_state->registers)
            r = value;
    }

    std::vector<uint16_t> registers() const
    {
        return std::vector<uint16_t>(std::begin(m_state->registers), std::end(m_state->registers));
    }

private:
    std::unique_ptr<ModbusMasterState> m_state;
    std::vector<uint8_t> m_answer;
};

void verifyDecodedCleared(const ModbusMasterState& s)
{
    QCOMPARE(int(s.dataSlave), 0);
    QCOMPARE(int(s.dataStart), 0);
    QCOMPARE(int(s.dataCount), 0);
    QCOMPARE(int(s.dataByteCount), 0);
    QCOMPARE(int(s.dataType), int(ModbusNoData));
    QCOMPARE(int(s.dataFunction), 0);
}

void verifyExceptionCleared(const ModbusMasterState& s)
{
    QCOMPARE(int(s.exceptionSlave), 0);
    QCOMPARE(int(s.exceptionFunction), 0);
    QCOMPARE(s.exceptionCode, 0);
}

} // namespace

class TestModbusCodec : public QObject
{
    Q_OBJECT

private slots:
    void crc16_data();
    void crc16();
    void crc16Edges();

    void buildRequest_data();
    void buildRequest();
    void refusedRequest_data();
    void refusedRequest();

    void acceptedAnswer_data();
    void acceptedAnswer();
    void oneByteChanged_data();
    void oneByteChanged();
    void checkOrder_data();
    void checkOrder();
    void exceptionAnswer_data();
    void exceptionAnswer();
    void lyingRequest_data();
    void lyingRequest();
    void checkReadAnswerDirect_data();
    void checkReadAnswerDirect();

    void initClearsRecord();
    void bits_data();
    void bits();
};

void TestModbusCodec::crc16_data()
{
    QTest::addColumn<QByteArray>("frame");
    for (const char* frame : {
             "01 03 00 03 00 7D 75 EB",          // read 125 registers from 3
             "01 03 00 00 00 0A C5 CD",          // read 10 registers from 0
             "11 03 00 6B 00 03 76 87",          // the protocol description's holding register example
             "11 04 00 08 00 01 B2 98",          // its input register example
             "01 04 00 00 00 01 31 CA",          // one input register
             "01 83 02 C0 F1",                   // exception answer
             "01 03 06 12 34 AB CD 00 FF 62 58", // three registers
             "FF 04 FF FF 00 01 24 30",          // every address bit set
         })
        QTest::newRow(frame) << hex(frame);
}

void TestModbusCodec::crc16()
{
    QFETCH(QByteArray, frame);
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.constData());
    const auto length = static_cast<uint16_t>(frame.size());
    const uint16_t crc = modbusCrc16(bytes, static_cast<uint16_t>(length - 2));
    QCOMPARE(int(crc & 0xFF), int(bytes[length - 2]));
    QCOMPARE(int(crc >> 8), int(bytes[length - 1]));
    // Run over the frame with its CRC appended, the register comes out as zero.
    QCOMPARE(int(modbusCrc16(bytes, length)), 0);
}

void TestModbusCodec::crc16Edges()
{
    const uint8_t byte = 0x01;
    QCOMPARE(int(modbusCrc16(&byte, 0)), 0xFFFF);
    QCOMPARE(int(modbusCrc16(nullptr, 0)), 0);
    QCOMPARE(int(modbusCrc16(nullptr, 8)), 0);
}

void TestModbusCodec::buildRequest_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("answerLength");

    QTest::newRow("01 03 00 03 00 7D 75 EB") << 3 << 1 << 3 << 125 << 255;
    QTest::newRow("01 03 00 00 00 0A C5 CD") << 3 << 1 << 0 << 10 << 25;
    QTest::newRow("11 03 00 6B 00 03 76 87") << 3 << 0x11 << 0x6B << 3 << 11;
    QTest::newRow("11 04 00 08 00 01 B2 98") << 4 << 0x11 << 8 << 1 << 7;
    QTest::newRow("01 04 00 00 00 01 31 CA") << 4 << 1 << 0 << 1 << 7;
    QTest::newRow("01 03 00 00 00 01 84 0A") << 3 << 1 << 0 << 1 << 7;
    QTest::newRow("FF 04 FF FF 00 01 24 30") << 4 << 255 << 0xFFFF << 1 << 7;
    QTest::newRow("F7 03 12 34 00 7D D5 CB") << 3 << 247 << 0x1234 << 125 << 255;
}

void TestModbusCodec::buildRequest()
{
    QFETCH(int, function);
    QFETCH(int, slave);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, answerLength);

    Codec codec;
    codec.state().requestFault = FaultCount;
    QCOMPARE(codec.build(uint8_t(function), uint8_t(slave), uint16_t(start), uint16_t(count)), MbOk);
    QCOMPARE(requestBytes(codec.state()).toHex(' ').toUpper(), QByteArray(QTest::currentDataTag()));
    QCOMPARE(int(codec.state().requestLength), 8);
    QCOMPARE(int(codec.state().expectedAnswerLength), answerLength);
    QCOMPARE(codec.state().requestFault, FaultNone);
}

void TestModbusCodec::refusedRequest_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("keepsRequest");

    // Each row follows a successful build of 01 03 00 03 00 03 F5 CB.
    QTest::newRow("function 06") << 6 << 1 << 3 << int(FaultUnsupportedFunction) << true;
    QTest::newRow("function 00") << 0 << 1 << 3 << int(FaultUnsupportedFunction) << true;
    QTest::newRow("function 83") << 0x83 << 1 << 3 << int(FaultUnsupportedFunction) << true;
    QTest::newRow("function 01") << 1 << 1 << 3 << int(FaultUnsupportedFunction) << true;
    QTest::newRow("slave 00") << 3 << 0 << 3 << int(FaultBroadcast) << true;
    QTest::newRow("slave 00 function 04") << 4 << 0 << 3 << int(FaultBroadcast) << true;
    QTest::newRow("function 06 slave 00 count 0") << 6 << 0 << 0 << int(FaultUnsupportedFunction) << true;
    QTest::newRow("slave 00 count 126") << 3 << 0 << 126 << int(FaultBroadcast) << true;
    QTest::newRow("count 0") << 3 << 1 << 0 << int(FaultCount) << false;
    QTest::newRow("count 126") << 3 << 1 << 126 << int(FaultCount) << false;
    QTest::newRow("count 65535") << 3 << 1 << 65535 << int(FaultCount) << false;
    QTest::newRow("function 04 count 0") << 4 << 1 << 0 << int(FaultCount) << false;
}

void TestModbusCodec::refusedRequest()
{
    QFETCH(int, function);
    QFETCH(int, slave);
    QFETCH(int, count);
    QFETCH(int, fault);
    QFETCH(bool, keepsRequest);

    Codec codec;
    QCOMPARE(codec.build(hex(RequestFor3)), MbOk);
    const QByteArray earlier = requestBytes(codec.state());

    QCOMPARE(codec.build(uint8_t(function), uint8_t(slave), 3, uint16_t(count)), MbBadRequest);
    QCOMPARE(int(codec.state().requestFault), fault);
    if (keepsRequest) {
        QCOMPARE(requestBytes(codec.state()), earlier);
        QCOMPARE(int(codec.state().expectedAnswerLength), 11);
        // The earlier request still judges its answer.
        QCOMPARE(codec.parse(hex(AnswerFor3)), MbOk);
        QCOMPARE(int(codec.state().registers[2]), 0x00FF);
    } else {
        QCOMPARE(int(codec.state().requestLength), 0);
        QCOMPARE(int(codec.state().expectedAnswerLength), 0);
        QCOMPARE(codec.parse(hex(AnswerFor3)), MbBadAnswer);
        QCOMPARE(codec.state().answerFault, FaultLength);
    }
}

void TestModbusCodec::acceptedAnswer_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QVector<int>>("registers");
    QTest::addColumn<int>("type");

    const QByteArray request3 = hex(RequestFor3);
    QTest::newRow(AnswerFor3) << request3 << QVector<int>{0x1234, 0xABCD, 0x00FF}
                              << int(ModbusHoldingRegisters);
    QTest::newRow("01 03 06 12 34 AB CD 01 FF 63 C8")
        << request3 << QVector<int>{0x1234, 0xABCD, 0x01FF} << int(ModbusHoldingRegisters);
    QTest::newRow("01 04 06 12 34 AB CD 00 FF 23 BE")
        << hex("01 04 00 03 00 03 40 0B") << QVector<int>{0x1234, 0xABCD, 0x00FF}
        << int(ModbusInputRegisters);
    QTest::newRow("01 03 02 12 34 B5 33")
        << hex("01 03 00 00 00 01 84 0A") << QVector<int>{0x1234} << int(ModbusHoldingRegisters);
    QTest::newRow("01 03 0C 00 01 00 02 00 03 00 04 00 05 00 06 DC 2F")
        << hex("01 03 00 00 00 06 C5 C8") << QVector<int>{1, 2, 3, 4, 5, 6} << int(ModbusHoldingRegisters);
}

void TestModbusCodec::acceptedAnswer()
{
    QFETCH(QByteArray, request);
    QFETCH(QVector<int>, registers);
    QFETCH(int, type);
    const QByteArray answer = hex(QTest::currentDataTag());

    Codec codec;
    QCOMPARE(codec.build(request), MbOk);
    QCOMPARE(int(codec.state().expectedAnswerLength), answer.size());
    codec.fillRegisters(Untouched);
    codec.state().answerFault = FaultCrc;

    QCOMPARE(codec.parse(answer), MbOk);
    const ModbusMasterState& s = codec.state();
    QCOMPARE(s.answerFault, FaultNone);
    QCOMPARE(int(s.dataSlave), int(uint8_t(answer[0])));
    QCOMPARE(int(s.dataFunction), int(uint8_t(answer[1])));
    QCOMPARE(int(s.dataType), type);
    QCOMPARE(int(s.dataStart), (uint8_t(request[2]) << 8) | uint8_t(request[3]));
    QCOMPARE(int(s.dataCount), registers.size());
    QCOMPARE(int(s.dataByteCount), 2 * registers.size());
    for (int i = 0; i < registers.size(); ++i)
        QCOMPARE(int(s.registers[i]), registers[i]);
    // Nothing past the answered registers is written.
    for (int i = registers.size(); i < 512; ++i)
        QCOMPARE(int(s.registers[i]), int(Untouched));
}

// Rejected answers are judged after an accepted one: the register area must stay as that one left it.
static void verifyRejected(Codec& codec, const QByteArray& answer, ModbusResult result, int fault)
{
    codec.fillRegisters(Untouched);
    QCOMPARE(codec.parse(hex(AnswerFor3)), MbOk);
    const std::vector<uint16_t> before = codec.registers();

    QCOMPARE(codec.parse(answer), result);
    QCOMPARE(int(codec.state().answerFault), fault);
    QVERIFY(codec.registers() == before);
    verifyDecodedCleared(codec.state());
    verifyExceptionCleared(codec.state());
}

void TestModbusCodec::oneByteChanged_data()
{
    QTest::addColumn<int>("fault");

    // Each differs from 01 03 06 12 34 AB CD 00 FF 62 58 in one byte, the CRC mended where it is not the
    // byte.
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 62 59") << int(FaultCrc);
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 63 58") << int(FaultCrc);
    QTest::newRow("01 03 06 12 34 AB CD 01 FF 62 58") << int(FaultCrc);
    QTest::newRow("01 03 04 12 34 AB CD 00 FF 41 98") << int(FaultLength);
    QTest::newRow("01 10 06 12 34 AB CD 00 FF 23 41") << int(FaultUnknownFunction);
    QTest::newRow("01 83 06 12 34 AB CD 00 FF 6A 38") << int(FaultUnknownFunction);
    QTest::newRow("01 04 06 12 34 AB CD 00 FF 23 BE") << int(FaultFunctionMismatch);
    QTest::newRow("02 03 06 12 34 AB CD 00 FF 76 A8") << int(FaultAddressMismatch);
    QTest::newRow("00 03 06 12 34 AB CD 00 FF 6F C8") << int(FaultBroadcast);
    // The remaining length faults: a byte count that fits the frame but not the request, and none at all.
    QTest::newRow("01 03 04 00 01 00 02 2A 32") << int(FaultLength);
    QTest::newRow("01 03 00 20 F0") << int(FaultLength);
    QTest::newRow("01 03 40 21") << int(FaultLength);
    QTest::newRow("01 83 02 00 00 91 84") << int(FaultUnknownFunction);
}

void TestModbusCodec::oneByteChanged()
{
    QFETCH(int, fault);
    Codec codec;
    QCOMPARE(codec.build(hex(RequestFor3)), MbOk);
    verifyRejected(codec, hex(QTest::currentDataTag()), MbBadAnswer, fault);
}

void TestModbusCodec::checkOrder_data()
{
    QTest::addColumn<QString>("requestState");
    QTest::addColumn<int>("fault");

    // Request built; the answer has more than one fault, the first in order decides.
    QTest::newRow("02 04 04 12 34 AB CD 00 FF 00 00") << "built" << int(FaultCrc);
    QTest::newRow("00 83 06 12 34 AB CD 00 FF 00 00") << "built" << int(FaultCrc);
    QTest::newRow("02 10 06 12 34 AB CD 00 FF 37 B1") << "built" << int(FaultUnknownFunction);
    QTest::newRow("02 03 04 12 34 AB CD 00 FF 55 68") << "built" << int(FaultLength);
    QTest::newRow("00 04 06 12 34 AB CD 00 FF 2E 2E") << "built" << int(FaultBroadcast);
    QTest::newRow("02 04 06 12 34 AB CD 00 FF 37 4E") << "built" << int(FaultAddressMismatch);
    QTest::newRow("02 03 00 D0 F0") << "built" << int(FaultAddressMismatch);
    QTest::newRow("01 04 00 22 C0") << "built" << int(FaultFunctionMismatch);
    QTest::newRow("01 03 06") << "built" << int(FaultLength);
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 62 58 01") << "built" << int(FaultCrc);
    // A zero after a good frame leaves a good CRC behind it; the length check catches it.
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 62 58 00") << "built" << int(FaultLength);

    // No request: an answer of any kind is a length fault, even with a bad CRC.
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 62 58 (no request)") << "none" << int(FaultLength);
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 00 00 (no request)") << "none" << int(FaultLength);
    QTest::newRow("01 83 02 C0 F1 (no request)") << "none" << int(FaultLength);
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 00 00 (count refused)") << "refused" << int(FaultLength);

    // The stored request is checked after the answer's CRC and before anything else.
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 62 58 (request damaged)") << "damaged" << int(FaultCrc);
    QTest::newRow("02 03 06 12 34 AB CD 00 FF 76 A8 (request damaged)") << "damaged" << int(FaultCrc);
    QTest::newRow("01 83 02 C0 F1 (request damaged)") << "damaged" << int(FaultCrc);
    QTest::newRow("01 03 06 (request damaged)") << "damaged" << int(FaultLength);
    QTest::newRow("01 03 06 12 34 AB CD 00 FF 62 58 (request of 7 bytes)") << "short" << int(FaultCrc);
}

void TestModbusCodec::checkOrder()
{
    QFETCH(QString, requestState);
    QFETCH(int, fault);
    // The frame is the tag up to the note in brackets.
    const QByteArray answer = hex(QByteArray(QTest::currentDataTag()).split('(').first().constData());

    Codec codec;
    QCOMPARE(codec.build(hex(RequestFor3)), MbOk);
    if (requestState == "built") {
        verifyRejected(codec, answer, MbBadAnswer, fault);
        return;
    }
    codec.fillRegisters(Untouched);
    if (requestState == "none")
        modbusMasterInit(&codec.state());
    else if (requestState == "refused")
        QCOMPARE(codec.build(3, 1, 3, 0), MbBadRequest);
    else if (requestState == "damaged")
        codec.state().request[3] ^= 0x01;
    else if (requestState == "short")
        codec.state().requestLength = 7;
    const std::vector<uint16_t> before = codec.registers();

    QCOMPARE(codec.parse(answer), MbBadAnswer);
    QCOMPARE(int(codec.state().answerFault), fault);
    QVERIFY(codec.registers() == before);
    verifyDecodedCleared(codec.state());
    verifyExceptionCleared(codec.state());
}

void TestModbusCodec::exceptionAnswer_data()
{
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("code");

    QTest::newRow("01 83 02 C0 F1") << 1 << 0x83 << 2;
    // Exception answers are reported as they come; the caller compares slave and function.
    QTest::newRow("01 84 02 C2 C1") << 1 << 0x84 << 2;
    QTest::newRow("00 83 02 91 31") << 0 << 0x83 << 2;
}

void TestModbusCodec::exceptionAnswer()
{
    QFETCH(int, slave);
    QFETCH(int, function);
    QFETCH(int, code);

    Codec codec;
    QCOMPARE(codec.build(hex(RequestFor3)), MbOk);
    codec.fillRegisters(Untouched);
    QCOMPARE(codec.parse(hex(AnswerFor3)), MbOk);
    const std::vector<uint16_t> before = codec.registers();

    QCOMPARE(codec.parse(hex(QTest::currentDataTag())), MbException);
    const ModbusMasterState& s = codec.state();
    QCOMPARE(s.answerFault, FaultNone);
    QCOMPARE(int(s.exceptionSlave), slave);
    QCOMPARE(int(s.exceptionFunction), function);
    QCOMPARE(s.exceptionCode, code);
    QVERIFY(codec.registers() == before);
    verifyDecodedCleared(s);

    // The next parse forgets the exception.
    QCOMPARE(codec.parse(hex("02 03 06 12 34 AB CD 00 FF 76 A8")), MbBadAnswer);
    verifyExceptionCleared(s);
}

void TestModbusCodec::lyingRequest_data()
{
    QTest::addColumn<QByteArray>("answer");

    // Stored requests with a correct CRC whose count, doubled, wraps to 6 in eight bits.
    QTest::newRow("01 03 00 03 00 83 F4 6B") << hex(AnswerFor3);
    QTest::newRow("01 03 00 03 02 03 F4 AB") << hex(AnswerFor3);
}

void TestModbusCodec::lyingRequest()
{
    QFETCH(QByteArray, answer);
    Codec codec;
    codec.storeRequest(hex(QTest::currentDataTag()));
    codec.fillRegisters(Untouched);
    const std::vector<uint16_t> before = codec.registers();

    QCOMPARE(codec.parse(answer), MbBadAnswer);
    QCOMPARE(codec.state().answerFault, FaultLength);
    QVERIFY(codec.registers() == before);
}

void TestModbusCodec::checkReadAnswerDirect_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("withRequest");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("fault");

    QTest::newRow("01 10 06 12 34 AB CD 00 FF 23 41") << hex("01 10 06 12 34 AB CD 00 FF 23 41") << true
                                                      << int(MbBadAnswer) << int(FaultUnsupportedFunction);
    QTest::newRow("01 83 02 C0 F1") << hex("01 83 02 C0 F1") << true << int(MbBadAnswer)
                                    << int(FaultUnsupportedFunction);
    QTest::newRow(AnswerFor3) << hex(AnswerFor3) << true << int(MbOk) << int(FaultNone);
    // Too short to hold slave, function and byte count: nothing past the answer is read.
    QTest::newRow("01 03") << hex("01 03") << true << int(MbBadAnswer) << int(FaultLength);
    QTest::newRow("01") << hex("01") << true << int(MbBadAnswer) << int(FaultLength);
    QTest::newRow("01 03 06 (no request pointer)")
        << hex("01 03 06") << false << int(MbNullArgument) << int(FaultNone);
    QTest::newRow("(no answer)") << QByteArray() << true << int(MbNullArgument) << int(FaultNone);
}

void TestModbusCodec::checkReadAnswerDirect()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, withRequest);
    QFETCH(int, result);
    QFETCH(int, fault);

    Codec codec;
    QCOMPARE(codec.build(hex(RequestFor3)), MbOk);
    codec.point(answer);
    ModbusMasterState& s = codec.state();
    QCOMPARE(int(modbusCheckReadAnswer(&s, s.answer, withRequest ? s.request : nullptr)), result);
    QCOMPARE(int(s.answerFault), fault);
    QCOMPARE(modbusCheckReadAnswer(nullptr, s.answer, s.request), MbNullArgument);
}

void TestModbusCodec::initClearsRecord()
{
    QCOMPARE(modbusMasterInit(nullptr), MbNullArgument);

    Codec codec;
    ModbusMasterState& s = codec.state();
    std::memset(&s, 0x5A, sizeof s);
    const uint8_t answer[] = {1, 3};
    s.answer = answer;
    QCOMPARE(modbusMasterInit(&s), MbOk);

    QCOMPARE(int(s.requestLength), 0);
    for (uint8_t byte : s.request)
        QCOMPARE(int(byte), 0);
    QVERIFY(s.answer == nullptr);
    QCOMPARE(int(s.answerLength), 0);
    for (uint16_t r : s.registers)
        QCOMPARE(int(r), 0);
    verifyDecodedCleared(s);
    verifyExceptionCleared(s);

    // Polling restarts from scratch: an answer to the old request is no longer accepted.
    QCOMPARE(codec.build(hex(RequestFor3)), MbOk);
    QCOMPARE(modbusMasterInit(&s), MbOk);
    QCOMPARE(codec.parse(hex(AnswerFor3)), MbBadAnswer);
    QCOMPARE(s.answerFault, FaultLength);
}

void TestModbusCodec::bits_data()
{
    QTest::addColumn<QByteArray>("mask");
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("got");
    QTest::addColumn<int>("setResult");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("01 80 bit 0 clear") << hex("01 80") << 0 << 0 << 1 << 0 << hex("00 80");
    QTest::newRow("01 80 bit 7 set") << hex("01 80") << 7 << 1 << 0 << 0 << hex("81 80");
    QTest::newRow("01 80 bit 15 clear") << hex("01 80") << 15 << 0 << 1 << 0 << hex("01 00");
    QTest::newRow("00 00 bit 9 set by 7") << hex("00 00") << 9 << 7 << 0 << 0 << hex("00 02");
    QTest::newRow("FF FF bit 12 set again") << hex("FF FF") << 12 << 1 << 1 << 0 << hex("FF FF");
    QTest::newRow("FF FF bit 16 past the end") << hex("FF FF") << 16 << 0 << -1 << -1 << hex("FF FF");
    QTest::newRow("FF bit 65535 past the end") << hex("FF") << 65535 << 0 << -1 << -1 << hex("FF");
    QTest::newRow("no mask") << QByteArray() << 0 << 1 << -1 << -1 << QByteArray();
}

void TestModbusCodec::bits()
{
    QFETCH(QByteArray, mask);
    QFETCH(int, bit);
    QFETCH(int, value);
    QFETCH(int, got);
    QFETCH(int, setResult);
    QFETCH(QByteArray, after);

    std::vector<uint8_t> bytes(mask.begin(), mask.end());
    uint8_t* data = bytes.empty() ? nullptr : bytes.data();
    const auto length = static_cast<uint16_t>(bytes.size());
    QCOMPARE(modbusGetBit(data, length, uint16_t(bit)), got);
    QCOMPARE(modbusSetBit(data, length, uint16_t(bit), value), setResult);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())), after);
    if (setResult == 0)
        QCOMPARE(modbusGetBit(data, length, uint16_t(bit)), value ? 1 : 0);
}

QTEST_APPLESS_MAIN(TestModbusCodec)
#include "tst_modbus_codec.moc"
