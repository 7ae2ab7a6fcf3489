// On-screen numbers read with a decimal comma whatever the C run-time's locale says.
#include "core/DecimalComma.h"

#include <QtTest>
#include <clocale>

class TestDecimalComma : public QObject
{
    Q_OBJECT
private slots:
    void format_data();
    void format();
    void commaLocaleStaysComma();
};

void TestDecimalComma::format_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("volts") << "%4.2f" << 13.5 << "13,50";
    QTest::newRow("degrees rounded") << "%3.1f" << 25.34 << "25,3";
    QTest::newRow("negative") << "%3.1f" << -1.5 << "-1,5";
    QTest::newRow("zero volts") << "%4.2f" << 0.0 << "0,00";
    QTest::newRow("width pads") << "%4.2f" << 1.0 << "1,00";
    QTest::newRow("cut at 13") << "%4.2f" << 123456789012.0 << "123456789012,";
}

void TestDecimalComma::format()
{
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(decimalComma(format.toLatin1().constData(), value), text);
}

void TestDecimalComma::commaLocaleStaysComma()
{
    // Where a comma locale exists the run-time writes a comma itself; the result is the same.
    const char* found = nullptr;
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", "fr_CA.UTF-8"})
        if ((found = std::setlocale(LC_NUMERIC, name)))
            break;
    if (!found)
        QSKIP("no comma-decimal locale is installed");
    QCOMPARE(decimalComma("%4.2f", 12.63), QString("12,63"));
    std::setlocale(LC_NUMERIC, "C");
}

QTEST_MAIN(TestDecimalComma)
#include "tst_decimal_comma.moc"
