// The Modbus RTU codec on frames written out by hand; rows are named by the frame in hex.
// CRCs here come from the protocol description or from pymodbus, never from this codec.
#include "link/ModbusMaster.h"

#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

namespace {
const char* const Request3 = "01 03 00 03 00 03 F5 CB";
constexpr uint16_t Untouched = 0xBEEF;

// The record, with the answer in a buffer of exactly its size so a sanitizer sees any read past it.
struct Codec
{
    std::unique_ptr<ModbusMasterState> s = std::make_unique<ModbusMasterState>();
    std::vector<uint8_t> answer;

    Codec(const char* request = Request3)
    {
        modbusMasterInit(s.get());
        const QByteArray bytes = QByteArray::fromHex(request);
        std::memcpy(s->request, bytes.constData(), static_cast<size_t>(bytes.size()));
        s->requestLength = static_cast<uint8_t>(bytes.size());
    }
    void point(const QByteArray& bytes)
    {
        answer.assign(bytes.begin(), bytes.end());
        s->answer = answer.empty() ? nullptr : answer.data();
        s->answerLength = static_cast<uint8_t>(answer.size());
    }
    // What a parse leaves for the caller besides the registers.
    QVector<int> decoded() const
    {
        return {s->dataSlave,     s->dataFunction,   s->dataType,          s->dataStart,    s->dataCount,
                s->dataByteCount, s->exceptionSlave, s->exceptionFunction, s->exceptionCode};
    }
};
} // namespace

class TestModbusCodec : public QObject
{
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void answers_data();
    void answers();
    void edges();
};

void TestModbusCodec::requests_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("fault");
    // Built after 01 03 00 03 00 03: a refused function or slave keeps that request.
    QTest::addColumn<QByteArray>("stored");
    const auto row = [](const QString& name, int function, int slave, int count, int fault,
                        const char* stored) {
        QTest::newRow(qPrintable(name)) << function << slave << count << fault << QByteArray(stored);
    };
    row("125 registers of slave 247", 3, 247, 125, FaultNone, "F7 03 12 34 00 7D D5 CB");
    for (int function : {0, 1, 6, 0x83})
        row(QString("function %1").arg(function), function, 1, 3, FaultUnsupportedFunction, "");
    row("broadcast", 3, 0, 3, FaultBroadcast, "");
    row("function before slave", 6, 0, 0, FaultUnsupportedFunction, "");
    row("slave before count", 3, 0, 126, FaultBroadcast, "");
    for (int count : {0, 126, 65535})
        row(QString("count %1").arg(count), 3, 1, count, FaultCount, "-");
}

void TestModbusCodec::requests()
{
    QFETCH(int, function);
    QFETCH(int, slave);
    QFETCH(int, count);
    QFETCH(int, fault);
    QFETCH(QByteArray, stored);
    Codec c;
    QCOMPARE(modbusBuildReadRequest(c.s.get(), 3, 1, 3, 3), MbOk);
    c.s->requestFault = FaultCrc;
    const ModbusResult result =
        modbusBuildReadRequest(c.s.get(), uint8_t(function), uint8_t(slave), 0x1234, uint16_t(count));
    QCOMPARE(result, fault == FaultNone ? MbOk : MbBadRequest);
    QCOMPARE(int(c.s->requestFault), fault);
    const QByteArray kept = stored.isEmpty() ? "0103000300 03f5cb" : stored == "-" ? "" : stored;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(c.s->request), c.s->requestLength).toHex(),
             QByteArray::fromHex(kept).toHex());
    QCOMPARE(int(c.s->expectedAnswerLength), stored == "-" ? 0 : 2 * (fault ? 3 : count) + 5);
}

void TestModbusCodec::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("fault");
    // Registers of an accepted answer; slave, function and code of an exception.
    QTest::addColumn<QVector<int>>("values");
    // The frame is the row's name up to a note in brackets.
    const auto row = [](const char* name, int result, int fault, const QVector<int>& values = {},
                        const char* request = Request3) {
        QTest::newRow(name) << QByteArray(request) << result << fault << values;
    };
    const auto bad = [&](const char* name, int fault, const char* request = Request3) {
        row(name, MbBadAnswer, fault, {}, request);
    };
    row("01 03 06 12 34 AB CD 00 FF 62 58", MbOk, FaultNone, {0x1234, 0xABCD, 0x00FF});
    row("01 04 06 12 34 AB CD 00 FF 23 BE", MbOk, FaultNone, {0x1234, 0xABCD, 0x00FF},
        "01 04 00 03 00 03 40 0B");
    row("01 03 02 12 34 B5 33", MbOk, FaultNone, {0x1234}, "01 03 00 00 00 01 84 0A");
    // Exception answers are reported as they come; the caller compares slave and function.
    row("01 83 02 C0 F1", MbException, FaultNone, {1, 0x83, 2});
    row("01 84 02 C2 C1", MbException, FaultNone, {1, 0x84, 2});
    row("00 83 02 91 31", MbException, FaultNone, {0, 0x83, 2});
    // One byte changed, the CRC mended where it is not the byte.
    bad("01 03 06 12 34 AB CD 00 FF 62 59", FaultCrc);
    bad("01 03 06 12 34 AB CD 00 FF 63 58", FaultCrc);
    bad("01 03 06 12 34 AB CD 01 FF 62 58", FaultCrc);
    bad("01 03 04 12 34 AB CD 00 FF 41 98", FaultLength);
    bad("01 10 06 12 34 AB CD 00 FF 23 41", FaultUnknownFunction);
    bad("01 83 06 12 34 AB CD 00 FF 6A 38", FaultUnknownFunction);
    bad("01 04 06 12 34 AB CD 00 FF 23 BE", FaultFunctionMismatch);
    bad("02 03 06 12 34 AB CD 00 FF 76 A8", FaultAddressMismatch);
    bad("00 03 06 12 34 AB CD 00 FF 6F C8", FaultBroadcast);
    bad("01 03 04 00 01 00 02 2A 32 (count fits the frame, not the request)", FaultLength);
    bad("01 03 00 20 F0", FaultLength);
    bad("01 03 40 21", FaultLength);
    bad("01 03 06", FaultLength);
    bad("01 83 02 00 00 91 84 (exception of 7 bytes)", FaultUnknownFunction);
    bad("01 03 06 12 34 AB CD 00 FF 62 58 01", FaultCrc);
    // A zero after a good frame leaves a good CRC behind it; the length check catches it.
    bad("01 03 06 12 34 AB CD 00 FF 62 58 00", FaultLength);
    // More than one fault: the first in order decides.
    bad("02 04 04 12 34 AB CD 00 FF 00 00", FaultCrc);
    bad("02 10 06 12 34 AB CD 00 FF 37 B1", FaultUnknownFunction);
    bad("02 03 04 12 34 AB CD 00 FF 55 68", FaultLength);
    bad("00 04 06 12 34 AB CD 00 FF 2E 2E", FaultBroadcast);
    bad("02 04 06 12 34 AB CD 00 FF 37 4E", FaultAddressMismatch);
    bad("02 03 00 D0 F0", FaultAddressMismatch);
    bad("01 04 00 22 C0", FaultFunctionMismatch);
    // No request: any answer is a length fault, even with a bad CRC.
    bad("01 03 06 12 34 AB CD 00 FF 62 58 (no request)", FaultLength, "");
    bad("01 03 06 12 34 AB CD 00 FF 00 00 (no request)", FaultLength, "");
    bad("01 83 02 C0 F1 (no request)", FaultLength, "");
    // The stored request is checked after the answer's CRC and before anything else.
    bad("01 03 06 12 34 AB CD 00 FF 62 58 (request damaged)", FaultCrc, "01 03 00 02 00 03 F5 CB");
    bad("02 03 06 12 34 AB CD 00 FF 76 A8 (request damaged)", FaultCrc, "01 03 00 02 00 03 F5 CB");
    bad("01 83 02 C0 F1 (request damaged)", FaultCrc, "01 03 00 02 00 03 F5 CB");
    bad("01 03 06 (request damaged)", FaultLength, "01 03 00 02 00 03 F5 CB");
    bad("01 03 06 12 34 AB CD 00 FF 62 58 (request of 7 bytes)", FaultCrc, "01 03 00 03 00 03 F5");
    // Requests with a good CRC whose count, doubled, wraps to 6 in eight bits.
    bad("01 03 06 12 34 AB CD 00 FF 62 58 (count 131)", FaultLength, "01 03 00 03 00 83 F4 6B");
    bad("01 03 06 12 34 AB CD 00 FF 62 58 (count 515)", FaultLength, "01 03 00 03 02 03 F4 AB");
}

void TestModbusCodec::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(int, result);
    QFETCH(int, fault);
    QFETCH(QVector<int>, values);
    const QByteArray answer = QByteArray::fromHex(QByteArray(QTest::currentDataTag()).split('(').first());
    Codec c(request.constData());
    // Left over from earlier parses: a parse clears what it does not set.
    std::fill(std::begin(c.s->registers), std::end(c.s->registers), Untouched);
    c.s->dataSlave = c.s->dataFunction = c.s->dataByteCount = c.s->exceptionSlave = c.s->exceptionFunction =
        7;
    c.s->dataStart = c.s->dataCount = c.s->exceptionCode = 7;
    c.s->dataType = ModbusInputRegisters;
    c.s->answerFault = FaultCount;
    c.point(answer);
    QCOMPARE(int(modbusParseAnswer(c.s.get())), result);
    QCOMPARE(int(c.s->answerFault), fault);

    const int n = result == MbOk ? values.size() : 0;
    const QByteArray r = QByteArray::fromHex(request);
    QVector<int> expected =
        result == MbException ? QVector<int>{0, 0, 0, 0, 0, 0} + values : QVector<int>(9, 0);
    if (result == MbOk)
        expected = {answer[0],
                    answer[1],
                    answer[1] == 3 ? ModbusHoldingRegisters : ModbusInputRegisters,
                    r[2] << 8 | uint8_t(r[3]),
                    n,
                    2 * n,
                    0,
                    0,
                    0};
    QCOMPARE(c.decoded(), expected);
    for (int i = 0; i < 512; ++i)
        QCOMPARE(int(c.s->registers[i]), i < n ? values[i] : int(Untouched));
}

void TestModbusCodec::edges()
{
    QCOMPARE(modbusMasterInit(nullptr), MbNullArgument);
    QCOMPARE(modbusBuildReadRequest(nullptr, 3, 1, 0, 1), MbNullArgument);
    QCOMPARE(modbusParseAnswer(nullptr), MbNullArgument);
    const uint8_t byte = 0x01;
    QCOMPARE(int(modbusCrc16(&byte, 0)), 0xFFFF);
    QCOMPARE(int(modbusCrc16(nullptr, 8)), 0);

    // The check a parse ends in, called directly: it reads nothing a short answer lacks.
    Codec c;
    for (const char* frame : {"01", "01 03", "01 83 02 C0 F1"}) {
        c.point(QByteArray::fromHex(frame));
        QCOMPARE(modbusCheckReadAnswer(c.s.get(), c.s->answer, c.s->request), MbBadAnswer);
        QCOMPARE(c.s->answerFault, c.s->answerLength < 3 ? FaultLength : FaultUnsupportedFunction);
    }
    QCOMPARE(modbusCheckReadAnswer(c.s.get(), c.s->answer, nullptr), MbNullArgument);
    QCOMPARE(modbusCheckReadAnswer(c.s.get(), nullptr, c.s->request), MbNullArgument);
    QCOMPARE(modbusCheckReadAnswer(nullptr, c.s->answer, c.s->request), MbNullArgument);

    // Polling restarts from scratch: nothing of the old exchange is left.
    std::memset(c.s->registers, 0x5A, sizeof c.s->registers);
    c.s->dataCount = c.s->exceptionCode = 7;
    QCOMPARE(modbusMasterInit(c.s.get()), MbOk);
    QCOMPARE(c.decoded(), QVector<int>(9, 0));
    QVERIFY(!c.s->answer && !c.s->answerLength && !c.s->requestLength && !c.s->request[0] &&
            !c.s->request[7]);
    QVERIFY(std::all_of(std::begin(c.s->registers), std::end(c.s->registers), [](uint16_t r) { return !r; }));

    // Bit 0 is the lowest bit of byte 0; a bit past the mask, or no mask, is refused.
    uint8_t mask[2] = {0x01, 0x80};
    QCOMPARE(modbusGetBit(mask, 2, 0) + 2 * modbusGetBit(mask, 2, 7) + 4 * modbusGetBit(mask, 2, 15), 5);
    QCOMPARE(modbusSetBit(mask, 2, 0, 0) + modbusSetBit(mask, 2, 9, 7) + modbusSetBit(mask, 2, 15, 0), 0);
    QCOMPARE(mask[0] << 8 | mask[1], 0x0002);
    QCOMPARE(modbusGetBit(mask, 2, 16) + modbusSetBit(mask, 2, 16, 1) + modbusSetBit(mask, 1, 65535, 1), -3);
    QCOMPARE(modbusGetBit(nullptr, 2, 0) + modbusSetBit(nullptr, 2, 0, 1), -2);
    QCOMPARE(mask[0] << 8 | mask[1], 0x0002);
}

QTEST_APPLESS_MAIN(TestModbusCodec)
#include "tst_modbus_codec.moc"
