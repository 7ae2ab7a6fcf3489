// The Modbus RTU codec on frames (and CRCs) written out by hand; rows named by the frame in hex.
#include "link/ModbusMaster.h"

#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

namespace {
const char* const Request3 = "01 03 00 03 00 03 F5 CB";

// The record, with the answer in a buffer of exactly its size so a sanitizer sees any read past it.
struct Codec
{
    std::unique_ptr<ModbusMasterState> s = std::make_unique<ModbusMasterState>();
    std::vector<uint8_t> answer;

    Codec(const QByteArray& request = Request3)
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
    QByteArray request() const
    {
        return QByteArray(reinterpret_cast<char*>(s->request), s->requestLength).toHex();
    }
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
    void requests()
    {
        Codec c;
        c.s->requestFault = FaultCrc;
        QCOMPARE(modbusBuildReadRequest(c.s.get(), 3, 247, 0x1234, 125), MbOk);
        QCOMPARE(c.request(), QByteArray("f7031234007dd5cb"));
        QCOMPARE(int(c.s->requestFault) + c.s->expectedAnswerLength, FaultNone + 255);
        // Function, then slave, then count; a refused count also drops the earlier request.
        const int refused[][4] = {{6, 0, 0, FaultUnsupportedFunction},
                                  {3, 0, 126, FaultBroadcast},
                                  {3, 1, 0, FaultCount},
                                  {3, 1, 126, FaultCount}};
        for (const auto& r : refused) {
            QCOMPARE(modbusBuildReadRequest(c.s.get(), 3, 1, 3, 3), MbOk);
            QCOMPARE(modbusBuildReadRequest(c.s.get(), uint8_t(r[0]), uint8_t(r[1]), 0, uint16_t(r[2])),
                     MbBadRequest);
            QCOMPARE(int(c.s->requestFault), r[3]);
            QCOMPARE(c.request(),
                     r[3] == FaultCount ? QByteArray() : QByteArray(Request3).replace(' ', "").toLower());
            QCOMPARE(int(c.s->expectedAnswerLength), r[3] == FaultCount ? 0 : 11);
        }
        QCOMPARE(modbusMasterInit(nullptr) + modbusBuildReadRequest(nullptr, 3, 1, 0, 1) +
                     modbusParseAnswer(nullptr),
                 3 * MbNullArgument);
        QCOMPARE(int(modbusCrc16(c.s->request, 0)) + modbusCrc16(nullptr, 8), 0xFFFF);
        // Polling restarts from scratch: nothing of the old exchange is left.
        std::memset(c.s->registers, 0x5A, sizeof c.s->registers);
        c.s->dataCount = c.s->exceptionCode = 7;
        QCOMPARE(modbusMasterInit(c.s.get()), MbOk);
        QCOMPARE(c.decoded(), QVector<int>(9, 0));
        QVERIFY(!c.s->answer && !c.s->answerLength && !c.s->requestLength && !c.s->registers[511]);
    }
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("fault");           // -1: an exception answer
        QTest::addColumn<QVector<int>>("values"); // registers; slave, function and code of an exception
        // The frame is the row's name up to a note in brackets.
        const auto row = [](const char* name, int fault, const QVector<int>& values = {},
                            const char* request = Request3) {
            QTest::newRow(name) << QByteArray(request) << fault << values;
        };
        row("01 03 06 12 34 AB CD 00 FF 62 58", FaultNone, {0x1234, 0xABCD, 0x00FF});
        row("01 04 06 12 34 AB CD 00 FF 23 BE", FaultNone, {0x1234, 0xABCD, 0x00FF},
            "01 04 00 03 00 03 40 0B");
        // Exception answers are reported as they come; the caller compares slave and function.
        row("01 83 02 C0 F1", -1, {1, 0x83, 2});
        row("00 83 02 91 31", -1, {0, 0x83, 2});
        row("01 03 06 12 34 AB CD 00 FF 62 59", FaultCrc);
        row("01 03 04 12 34 AB CD 00 FF 41 98", FaultLength);
        row("01 10 06 12 34 AB CD 00 FF 23 41", FaultUnknownFunction);
        row("01 04 06 12 34 AB CD 00 FF 23 BE", FaultFunctionMismatch);
        row("02 03 06 12 34 AB CD 00 FF 76 A8", FaultAddressMismatch);
        row("00 03 06 12 34 AB CD 00 FF 6F C8", FaultBroadcast);
        row("01 03 04 00 01 00 02 2A 32 (count fits the frame, not the request)", FaultLength);
        row("01 03 00 20 F0", FaultLength);
        row("01 03 06", FaultLength);
        row("01 83 02 00 00 91 84 (exception of 7 bytes)", FaultUnknownFunction);
        row("01 03 06 12 34 AB CD 00 FF 62 58 01", FaultCrc);
        // A zero after a good frame leaves a good CRC behind it.
        row("01 03 06 12 34 AB CD 00 FF 62 58 00", FaultLength);
        // More than one fault: the first in order decides.
        row("02 04 04 12 34 AB CD 00 FF 00 00", FaultCrc);
        row("02 03 04 12 34 AB CD 00 FF 55 68", FaultLength);
        row("02 04 06 12 34 AB CD 00 FF 37 4E", FaultAddressMismatch);
        row("01 04 00 22 C0", FaultFunctionMismatch);
        row("01 03 06 12 34 AB CD 00 FF 62 58 (no request)", FaultLength, {}, "");
        // The stored request is checked after the answer's CRC and before anything else.
        row("01 03 06 12 34 AB CD 00 FF 62 58 (request damaged)", FaultCrc, {}, "01 03 00 02 00 03 F5 CB");
        row("01 83 02 C0 F1 (request damaged)", FaultCrc, {}, "01 03 00 02 00 03 F5 CB");
        row("01 03 06 12 34 AB CD 00 FF 62 58 (request of 7 bytes)", FaultCrc, {}, "01 03 00 03 00 03 F5");
        // A request with a good CRC whose count, doubled, wraps to 6 in eight bits.
        row("01 03 06 12 34 AB CD 00 FF 62 58 (count 131)", FaultLength, {}, "01 03 00 03 00 83 F4 6B");
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, fault);
        QFETCH(QVector<int>, values);
        const QByteArray answer = QByteArray::fromHex(QByteArray(QTest::currentDataTag()).split('(').first());
        Codec c(request);
        // Left over from an earlier parse: a parse clears what it does not set.
        std::fill(std::begin(c.s->registers), std::end(c.s->registers), 0xBEEF);
        c.s->dataSlave = c.s->dataFunction = c.s->dataByteCount = c.s->exceptionSlave =
            c.s->exceptionFunction = 7;
        c.s->dataStart = c.s->dataCount = c.s->exceptionCode = 7;
        c.s->answerFault = FaultCount;
        c.point(answer);
        QCOMPARE(int(modbusParseAnswer(c.s.get())), fault < 0 ? MbException : fault ? MbBadAnswer : MbOk);
        QCOMPARE(int(c.s->answerFault), qMax(fault, 0));
        const int n = fault ? 0 : values.size(),
                  type = answer[1] == 3 ? ModbusHoldingRegisters : ModbusInputRegisters;
        const QVector<int> ok{answer[0], answer[1], type, int(QByteArray::fromHex(request)[3]), n, 2 * n,
                              0,         0,         0};
        QCOMPARE(c.decoded(), fault < 0 ? QVector<int>(6, 0) + values : fault ? QVector<int>(9, 0) : ok);
        for (int i = 0; i < 512; ++i)
            QCOMPARE(int(c.s->registers[i]), i < n ? values[i] : 0xBEEF);
    }
};

QTEST_APPLESS_MAIN(TestModbusCodec)
#include "tst_modbus_codec.moc"
