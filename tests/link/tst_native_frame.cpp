// Request and answer frames of the native modules, decoded without any port or widget.
#include "AnswerFrame.h"
#include "link/NativeFrame.h"

#include <QtTest>
#include <cstring>

class TestNativeFrame : public QObject
{
    Q_OBJECT
private slots:
    void request_data();
    void request();
    void notARequest_data();
    void notARequest();
    void divisor_data();
    void divisor();
    void decodeChannel_data();
    void decodeChannel();
    void signBitsPerChannel();
    void wellFormed_data();
    void wellFormed();
};

namespace {
NativeFrame::Answer toAnswer(const QByteArray& bytes)
{
    NativeFrame::Answer a{};
    std::memcpy(a.data(), bytes.constData(), qMin<size_t>(a.size(), static_cast<size_t>(bytes.size())));
    return a;
}
} // namespace

void TestNativeFrame::request_data()
{
    QTest::addColumn<int>("module");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("module 0") << 0 << QByteArray::fromHex("038184");
    QTest::newRow("module 1") << 1 << QByteArray::fromHex("078188");
    QTest::newRow("module 7") << 7 << QByteArray::fromHex("1f81a0");
    QTest::newRow("module 15") << 15 << QByteArray::fromHex("3f81c0");
}

void TestNativeFrame::request()
{
    QFETCH(int, module);
    QFETCH(QByteArray, bytes);
    const NativeFrame::Request r = NativeFrame::request(module);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.data()), 3), bytes);
    QCOMPARE(NativeFrame::requestedModule(r.data()), module);
}

void TestNativeFrame::notARequest_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("bad sum") << QByteArray::fromHex("038185");
    QTest::newRow("bad command") << QByteArray::fromHex("038083");
    QTest::newRow("address bits clear") << QByteArray::fromHex("048185");
    QTest::newRow("answer header") << QByteArray::fromHex("550a80");
}

void TestNativeFrame::notARequest()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(NativeFrame::requestedModule(reinterpret_cast<const std::uint8_t*>(bytes.constData())), -1);
}

void TestNativeFrame::divisor_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<quint32>("bits");
    QTest::newRow("0") << 0 << 0x43480000u; // 200.0
    QTest::newRow("1") << 1 << 0x3F800000u; // 1.0
    QTest::newRow("6") << 6 << 0x43AF0000u; // 350.0
    QTest::newRow("11") << 11 << 0x3F800000u;
    QTest::newRow("12") << 12 << 0x44520000u; // 840.0
    QTest::newRow("15") << 15 << 0x4240CE7Du;
    QTest::newRow("16") << 16 << 0x3F800000u;
    QTest::newRow("200") << 200 << 0x3F800000u;
    QTest::newRow("255") << 255 << 0x3F800000u;
}

void TestNativeFrame::divisor()
{
    QFETCH(int, index);
    QFETCH(quint32, bits);
    const float d = NativeFrame::divisor(static_cast<std::uint8_t>(index));
    quint32 actual;
    std::memcpy(&actual, &d, sizeof actual);
    QCOMPARE(QString::number(actual, 16), QString::number(bits, 16));
}

void TestNativeFrame::decodeChannel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("rawVolts");
    QTest::addColumn<int>("divisorIndex");
    QTest::addColumn<int>("halfDegrees");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<double>("volts");
    QTest::addColumn<double>("degrees");
    QTest::newRow("12.05 V, 25.5 C") << 0 << 2410 << 0 << 51 << false << 12.05 << 25.5;
    QTest::newRow("-25.5 C") << 0 << 2410 << 0 << 51 << true << 12.05 << -25.5;
    QTest::newRow("index 6") << 3 << 4725 << 6 << 0 << false << 13.5 << 0.0;
    QTest::newRow("index 12") << 5 << 10500 << 12 << 255 << false << 12.5 << 127.5;
    QTest::newRow("index 15") << 7 << 650 << 15 << 1 << true << 13.48501591 << -0.5;
    QTest::newRow("index 16 divides by 1") << 1 << 1234 << 16 << 20 << false << 1234.0 << 10.0;
    QTest::newRow("index 2 divides by 1") << 2 << 65535 << 2 << 20 << false << 65535.0 << 10.0;
    QTest::newRow("high byte matters") << 6 << 0x0100 << 0 << 2 << false << 1.28 << 1.0;
    QTest::newRow("zero, sign set") << 4 << 0 << 0 << 0 << true << 0.0 << 0.0;
}

void TestNativeFrame::decodeChannel()
{
    QFETCH(int, channel);
    QFETCH(int, rawVolts);
    QFETCH(int, divisorIndex);
    QFETCH(int, halfDegrees);
    QFETCH(bool, negative);
    QFETCH(double, volts);
    QFETCH(double, degrees);

    AnswerFrame f;
    f.rawVolts[channel] = static_cast<std::uint16_t>(rawVolts);
    f.halfDegrees[channel] = static_cast<std::uint8_t>(halfDegrees);
    f.signBits = negative ? static_cast<std::uint8_t>(1u << channel) : 0;
    f.divisorIndex = static_cast<std::uint8_t>(divisorIndex);
    MsdData entry;
    entry.msd_number = 9;
    NativeFrame::decode(toAnswer(f.bytes(9)), entry);

    QVERIFY(qAbs(entry.channel[channel].voltage - volts) < 1e-6);
    QCOMPARE(entry.channel[channel].temperature, degrees);
    QCOMPARE(entry.valid, false);
    QCOMPARE(entry.msd_number, 9u);
    for (int j = 0; j < 8; ++j) {
        if (j == channel)
            continue;
        QCOMPARE(entry.channel[j].voltage, 0.0);
        QCOMPARE(entry.channel[j].temperature, 0.0);
    }
}

void TestNativeFrame::signBitsPerChannel()
{
    AnswerFrame f;
    for (int j = 0; j < 8; ++j)
        f.halfDegrees[j] = static_cast<std::uint8_t>(10 * (j + 1));
    f.signBits = 0xA5; // channels 0, 2, 5, 7
    MsdData entry;
    NativeFrame::decode(toAnswer(f.bytes(0)), entry);
    const double expected[8] = {-5, 10, -15, 20, 25, -30, 35, -40};
    for (int j = 0; j < 8; ++j)
        QCOMPARE(entry.channel[j].temperature, expected[j]);
}

void TestNativeFrame::wellFormed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("expected");
    QTest::newRow("good") << AnswerFrame::typical(3).bytes(3) << true;
    QTest::newRow("all zero: sum fits, header does not") << QByteArray(32, '\0') << false;
    AnswerFrame badSum = AnswerFrame::typical(3);
    badSum.checksumError = 1;
    QTest::newRow("bad checksum") << badSum.bytes(3) << false;
    AnswerFrame badHeader = AnswerFrame::typical(3);
    badHeader.header = 0xAA;
    QTest::newRow("header 0xAA, sum right") << badHeader.bytes(3) << false;
    QByteArray truncated = AnswerFrame::typical(3).bytes(3).left(20);
    truncated.append(QByteArray(12, '\0'));
    QTest::newRow("answer cut short") << truncated << false;
}

void TestNativeFrame::wellFormed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, expected);
    QCOMPARE(NativeFrame::isWellFormed(toAnswer(bytes)), expected);
}

QTEST_APPLESS_MAIN(TestNativeFrame)
#include "tst_native_frame.moc"
