// The codec against pymodbus: CRCs, requests and answers built by pymodbus's own framer for
// random slaves, starts and counts (fixed seed).
#include "link/ModbusMaster.h"

#include <QtTest>
#include <memory>
#include <vector>

class TestModbusCrosscheck : public QObject
{
    Q_OBJECT
private slots:
    void frames();
};

void TestModbusCrosscheck::frames()
{
    QProcess python;
    // Debian's pymodbus belongs to the system interpreter.
    python.start("/usr/bin/python3", {ORVIK_SOURCE_DIR "/tests/link/pymodbus_frames.py", "9", "3000"});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    QMap<QByteArray, int> cases;
    auto s = std::make_unique<ModbusMasterState>();
    for (const QByteArray& line : python.readAllStandardOutput().trimmed().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const auto number = [&](int i) { return static_cast<uint16_t>(f[i].toUInt()); };
        // The answer sits in a buffer of exactly its size.
        const QByteArray bytes = QByteArray::fromHex(f[0] == "read" ? f[6] : f.last());
        const std::vector<uint8_t> answer(bytes.begin(), bytes.end());
        s->answer = answer.data();
        s->answerLength = static_cast<uint8_t>(answer.size());
        ++cases[f[0]];
        if (f[0] == "crc") {
            const QByteArray data = QByteArray::fromHex(f[1]);
            const uint16_t crc =
                modbusCrc16(reinterpret_cast<const uint8_t*>(data.constData()), uint16_t(data.size()));
            QVERIFY2(QByteArray::number((crc & 0xFF) << 8 | crc >> 8, 16).rightJustified(4, '0') == f[2],
                     line);
        } else {
            QCOMPARE(
                modbusBuildReadRequest(s.get(), uint8_t(number(1)), uint8_t(number(2)), number(3), number(4)),
                MbOk);
            QVERIFY2(QByteArray(reinterpret_cast<const char*>(s->request), s->requestLength).toHex() == f[5],
                     line);
            QCOMPARE(int(s->expectedAnswerLength), bytes.size());
            QVERIFY2(modbusParseAnswer(s.get()) == MbOk, line);
            QByteArrayList registers;
            for (int i = 0; i < s->dataCount; ++i)
                registers.append(QByteArray::number(s->registers[i], 16).rightJustified(4, '0'));
            QVERIFY2(registers.join(',') == f[7], line);
            QCOMPARE(
                QVector<int>({s->dataSlave, s->dataFunction, s->dataType, s->dataStart}),
                QVector<int>({number(2), number(1),
                              number(1) == 3 ? ModbusHoldingRegisters : ModbusInputRegisters, number(3)}));
        }
    }
    QCOMPARE(cases, (QMap<QByteArray, int>{{"crc", 3000}, {"read", 3000}}));
}

QTEST_APPLESS_MAIN(TestModbusCrosscheck)
#include "tst_modbus_crosscheck.moc"
