#include "link/ModbusMaster.h"

#include <QtTest>

#include <memory>
#include <vector>

// Compares the codec with pymodbus: the script writes CRCs, request frames and answer frames built by
// pymodbus's own framer and PDU classes for random slaves, starts and counts (fixed seed).
namespace {

constexpr int Seed = 9;
constexpr int Cases = 3000;

std::vector<uint8_t> bytesOf(const QByteArray& hexText)
{
    if (hexText == "-")
        return {};
    const QByteArray raw = QByteArray::fromHex(hexText);
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

QByteArray hexOf(const uint8_t* data, int length)
{
    return QByteArray(reinterpret_cast<const char*>(data), length).toHex();
}

} // namespace

class TestModbusCodecCrosscheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void crc();
    void requestsAndAnswers();
    void exceptions();

private:
    QList<QList<QByteArray>> linesOf(const QByteArray& kind, int fields) const;

    QTemporaryDir m_dir;
    QList<QByteArray> m_lines;
};

void TestModbusCodecCrosscheck::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString out = m_dir.filePath("pymodbus-frames.txt");
    QProcess python;
    // Debian's pymodbus belongs to the system interpreter.
    python.start("/usr/bin/python3",
                 {QStringLiteral(ORVIK_SOURCE_DIR "/tests/codec/pymodbus_frames.py"), "--seed",
                  QString::number(Seed), "--cases", QString::number(Cases), "--out", out});
    QVERIFY2(python.waitForFinished(60000), qPrintable(python.errorString()));
    QVERIFY2(python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0,
             python.readAllStandardError().constData());

    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_lines = file.readAll().split('\n');
    while (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
}

QList<QList<QByteArray>> TestModbusCodecCrosscheck::linesOf(const QByteArray& kind, int fields) const
{
    QList<QList<QByteArray>> result;
    for (const QByteArray& line : m_lines) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.first() == kind && parts.size() == fields)
            result.append(parts);
    }
    return result;
}

void TestModbusCodecCrosscheck::crc()
{
    const auto lines = linesOf("crc", 3);
    QCOMPARE(lines.size(), Cases);
    for (const auto& parts : lines) {
        const std::vector<uint8_t> data = bytesOf(parts[1]);
        // An empty vector may have no storage; zero bytes still need a pointer.
        const uint8_t none = 0;
        const uint16_t crc =
            modbusCrc16(data.empty() ? &none : data.data(), static_cast<uint16_t>(data.size()));
        const uint8_t sent[2] = {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
        QVERIFY2(hexOf(sent, 2) == parts[2], parts[1].constData());
    }
}

void TestModbusCodecCrosscheck::requestsAndAnswers()
{
    const auto lines = linesOf("read", 8);
    QCOMPARE(lines.size(), Cases);
    auto state = std::make_unique<ModbusMasterState>();
    QCOMPARE(modbusMasterInit(state.get()), MbOk);

    for (const auto& parts : lines) {
        const uint8_t function = static_cast<uint8_t>(parts[1].toUInt());
        const uint8_t slave = static_cast<uint8_t>(parts[2].toUInt());
        const uint16_t start = static_cast<uint16_t>(parts[3].toUInt());
        const uint16_t count = static_cast<uint16_t>(parts[4].toUInt());
        const QByteArray& requestHex = parts[5];

        QCOMPARE(modbusBuildReadRequest(state.get(), function, slave, start, count), MbOk);
        QVERIFY2(hexOf(state->request, state->requestLength) == requestHex, requestHex.constData());

        // The answer sits in a buffer of exactly its size.
        const std::vector<uint8_t> answer = bytesOf(parts[6]);
        QCOMPARE(int(state->expectedAnswerLength), int(answer.size()));
        state->answer = answer.data();
        state->answerLength = static_cast<uint8_t>(answer.size());
        QCOMPARE(modbusParseAnswer(state.get()), MbOk);

        const QList<QByteArray> values = parts[7].split(',');
        QCOMPARE(int(state->dataCount), values.size());
        QCOMPARE(int(state->dataSlave), int(slave));
        QCOMPARE(int(state->dataFunction), int(function));
        QCOMPARE(int(state->dataStart), int(start));
        QCOMPARE(int(state->dataType),
                 function == 3 ? int(ModbusHoldingRegisters) : int(ModbusInputRegisters));
        for (int i = 0; i < values.size(); ++i)
            QVERIFY2(state->registers[i] == values[i].toUShort(nullptr, 16), parts[6].constData());
    }
}

void TestModbusCodecCrosscheck::exceptions()
{
    const auto lines = linesOf("exception", 5);
    QCOMPARE(lines.size(), Cases / 10);
    auto state = std::make_unique<ModbusMasterState>();
    QCOMPARE(modbusMasterInit(state.get()), MbOk);

    for (const auto& parts : lines) {
        const uint8_t function = static_cast<uint8_t>(parts[1].toUInt());
        const uint8_t slave = static_cast<uint8_t>(parts[2].toUInt());
        QCOMPARE(modbusBuildReadRequest(state.get(), function, slave, 0, 1), MbOk);

        const std::vector<uint8_t> answer = bytesOf(parts[4]);
        state->answer = answer.data();
        state->answerLength = static_cast<uint8_t>(answer.size());
        QVERIFY2(modbusParseAnswer(state.get()) == MbException, parts[4].constData());
        QCOMPARE(int(state->exceptionSlave), int(slave));
        QCOMPARE(int(state->exceptionFunction), function | 0x80);
        QCOMPARE(state->exceptionCode, int32_t(parts[3].toInt()));
    }
}

QTEST_APPLESS_MAIN(TestModbusCodecCrosscheck)
#include "tst_modbus_codec_crosscheck.moc"
