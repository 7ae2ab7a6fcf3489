// The deviation bar charts, checked on rendered pixels: lines, bars, numbers and texts, and
// the width each chart asks its container for.
#include "config/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPGroupTemp.h"
#include "widgets/MKPGroupVolt.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
const QColor kWhite(255, 255, 255), kGrey(215, 215, 215), kGreen(37, 197, 12), kOrange(255, 171, 52),
    kRed(255, 75, 21);
enum Kind
{
    Volt,
    Temp
};
using Limits = QVector<double>; // tE, tW, UhE, UlE, UhW, UlW
const Limits kDefaults = {5.0, 4.0, 1.3, 1.3, 1.2, 1.2};

// One chart of the given kind over a group the test fills; paints on a white page.
struct Chart
{
    AlarmThresholds thresholds;
    BatteryGroup group{1};
    std::vector<std::unique_ptr<Battery>> batteries;
    std::unique_ptr<DeviationChart> chart;

    explicit Chart(int kind, const Limits& t = kDefaults)
    {
        thresholds = {t[0], t[1], t[2], t[3], t[4], t[5]};
        if (kind == Volt)
            chart = std::make_unique<MKPGroupVolt>();
        else
            chart = std::make_unique<MKPGroupTemp>();
        chart->setStyleSheet(QStringLiteral("background-color: white"));
        chart->setGroup(&group);
        chart->setThresholds(&thresholds);
    }
    Battery* add(double voltage, double temperature)
    {
        const int id = int(batteries.size());
        batteries.push_back(std::make_unique<Battery>(id, id / 8, id % 8));
        Battery* b = batteries.back().get();
        b->setThresholds(&thresholds);
        b->setVoltage(voltage);
        b->setTemperature(temperature);
        group.addBattery(b);
        return b;
    }
    void addMany(int count)
    {
        for (int i = 0; i < count; ++i)
            add(13.0, 25.0);
    }
    QImage run()
    {
        for (auto& b : batteries)
            b->updateState();
        chart->setRunning(true);
        return render();
    }
    QImage render() { return chart->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Empty when the box shows exactly the text drawn alone in the chart's font, else why not.
    QByteArray textCheck(const QImage& shot, const QRect& box, int flags, const QColor& colour,
                         const QString& text) const
    {
        QImage ref(shot.size(), QImage::Format_RGB32);
        ref.fill(kWhite);
        QPainter p(&ref);
        p.setFont(chart->textFont());
        p.setPen(colour);
        p.drawText(box, flags, text);
        int ink = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) {
                if (shot.pixel(x, y) != ref.pixel(x, y))
                    return QStringLiteral("(%1, %2) is not \"%3\"").arg(x).arg(y).arg(text).toUtf8();
                ink += shot.pixel(x, y) != kWhite.rgb();
            }
        return ink < 8 ? "no text in the box (is a font installed?)" : QByteArray();
    }
    QColor textColour() const { return chart->palette().color(chart->foregroundRole()); }
};

bool rowHas(const QImage& shot, int y, int x0, int x1, const QColor& colour)
{
    for (int x = x0; x <= x1; ++x)
        if (shot.pixelColor(x, y) != colour)
            return false;
    return true;
}

#define CHECK_TEXT(expr)                                                                                     \
    do {                                                                                                     \
        const QByteArray why = (expr);                                                                       \
        QVERIFY2(why.isEmpty(), why.constData());                                                            \
    } while (0)

const int kRight = Qt::AlignRight | Qt::AlignVCenter;
const int kLeft = Qt::AlignLeft | Qt::AlignVCenter;
} // namespace

class TestCharts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void construction_data();
    void construction();
    void thresholdLines_data();
    void thresholdLines();
    void labels_data();
    void labels();
    void bars_data();
    void bars();
    void noBarsBeforeStart();
    void noDataBar();
    void numberBoxes_data();
    void numberBoxes();
    void hundredthBarUsesWideGaps();
    void widthWish_data();
    void widthWish();
    void missingPartsDrawNothingHarmful_data();
    void missingPartsDrawNothingHarmful();
    void zeroEmergencyThresholdsStayInBounds();
};

void TestCharts::initTestCase()
{
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: chart texts would render blank");
}

void TestCharts::construction_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("captionName");
    QTest::addColumn<int>("captionWidth");
    QTest::addColumn<QString>("caption");
    QTest::newRow("voltage") << int(Volt) << "MKPGroupVolt"
                             << "label" << 81 << "Напряжение, В";
    QTest::newRow("temperature") << int(Temp) << "MKPGroupTemp"
                                 << "label_2" << 91
                                 << "<html><head/><body><p>Температура, <span style=\" "
                                    "vertical-align:super;\">o</span>C</p></body></html>";
}

void TestCharts::construction()
{
    QFETCH(int, kind);
    QFETCH(QString, name);
    QFETCH(QString, captionName);
    QFETCH(int, captionWidth);
    QFETCH(QString, caption);
    Chart c(kind);
    DeviationChart* chart = c.chart.get();
    QCOMPARE(chart->objectName(), name);
    QCOMPARE(chart->windowTitle(), QString("Form"));
    QCOMPARE(chart->size(), QSize(700, 300));
    QCOMPARE(chart->minimumSize(), QSize(700, 300));
    QCOMPARE(chart->maximumSize(), QSize(16777215, 300));
    auto* label = chart->findChild<QLabel*>(captionName);
    QVERIFY(label);
    QCOMPARE(label->text(), caption);
    QCOMPARE(label->geometry(), QRect(10, 10, captionWidth, 16));
    QVERIFY(label->sizeHint().width() <= captionWidth); // the whole caption shows
    // The container's limits leave the width the chart computes with.
    chart->setMinimumSize(400, 160);
    QCOMPARE(chart->baseMinimumWidth(), 700);
}

void TestCharts::thresholdLines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<Limits>("t");
    QTest::addColumn<int>("upperWarningY");
    QTest::addColumn<int>("lowerWarningY");
    QTest::newRow("voltage, defaults") << int(Volt) << kDefaults << 44 << 136;
    QTest::newRow("temperature, defaults") << int(Temp) << kDefaults << 50 << 130;
    // Offsets truncate (0.99 / 1.0 × 50 = 49.5 gives 49); each voltage side has its own pair.
    QTest::newRow("voltage, own sides") << int(Volt) << Limits{5, 4, 1.0, 2.5, 0.99, 0.5} << 41 << 100;
    QTest::newRow("temperature, one pair") << int(Temp) << Limits{4, 3, 1.0, 2.5, 0.99, 0.5} << 53 << 127;
}

void TestCharts::thresholdLines()
{
    QFETCH(int, kind);
    QFETCH(Limits, t);
    QFETCH(int, upperWarningY);
    QFETCH(int, lowerWarningY);
    Chart c(kind, t);
    c.addMany(3);
    c.chart->resize(800, 300);
    const QImage shot = c.render();
    const QPair<int, QColor> lines[] = {
        {upperWarningY, kOrange}, {lowerWarningY, kOrange}, {40, kRed}, {140, kRed}};
    for (const auto& line : lines) {
        // From x 100 to the right end, 700 before the exchange runs; one pixel high.
        QVERIFY2(rowHas(shot, line.first, 100, 700, line.second), qPrintable(QString::number(line.first)));
        QVERIFY(shot.pixelColor(99, line.first) != line.second);
        QVERIFY(shot.pixelColor(701, line.first) != line.second);
        QVERIFY(shot.pixelColor(400, line.first - 1) != line.second);
        QVERIFY(shot.pixelColor(400, line.first + 1) != line.second);
    }
    // The zero line: rows 89 and 90.
    QVERIFY(rowHas(shot, 89, 100, 700, kGrey) && rowHas(shot, 90, 100, 700, kGrey));
    QCOMPARE(shot.pixelColor(400, 88), kWhite);
    QCOMPARE(shot.pixelColor(400, 91), kWhite);
}

void TestCharts::labels_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<Limits>("t");
    QTest::addColumn<QRect>("box");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QColor>("colour"); // invalid: the chart's own text colour
    QTest::addColumn<QString>("text");
    const Limits d = kDefaults;
    const Limits own = {4, 3, 2.0, 2.5, 1.5, 0.5}; // offsets 37 above, 10 below
    const QColor text;
    QTest::newRow("volt upper warning")
        << int(Volt) << d << QRect(60, 39, 30, 10) << kRight << kOrange << "+1,2";
    QTest::newRow("volt lower warning")
        << int(Volt) << d << QRect(60, 131, 30, 10) << kRight << kOrange << "-1,2";
    QTest::newRow("volt upper emergency")
        << int(Volt) << d << QRect(100, 27, 30, 10) << kLeft << kRed << "+1,3";
    QTest::newRow("volt lower emergency")
        << int(Volt) << d << QRect(100, 143, 30, 10) << kLeft << kRed << "-1,3";
    QTest::newRow("volt mean") << int(Volt) << d << QRect(60, 85, 30, 10) << kRight << text << "13,25";
    QTest::newRow("volt own upper") << int(Volt) << own << QRect(60, 48, 30, 10) << kRight << kOrange
                                    << "+1,5";
    QTest::newRow("volt own lower") << int(Volt) << own << QRect(60, 95, 30, 10) << kRight << kOrange
                                    << "-0,5";
    QTest::newRow("volt own emergency")
        << int(Volt) << own << QRect(100, 143, 30, 10) << kLeft << kRed << "-2,5";
    QTest::newRow("temp upper warning")
        << int(Temp) << d << QRect(60, 45, 30, 10) << kRight << kOrange << "+4,0";
    QTest::newRow("temp lower warning")
        << int(Temp) << d << QRect(60, 125, 30, 10) << kRight << kOrange << "-4,0";
    QTest::newRow("temp upper emergency")
        << int(Temp) << d << QRect(100, 27, 30, 10) << kLeft << kRed << "+5,0";
    QTest::newRow("temp lower emergency")
        << int(Temp) << d << QRect(100, 143, 30, 10) << kLeft << kRed << "-5,0";
    QTest::newRow("temp mean") << int(Temp) << d << QRect(60, 85, 30, 10) << kRight << text << "24,8";
    QTest::newRow("temp other lower")
        << int(Temp) << own << QRect(60, 122, 30, 10) << kRight << kOrange << "-3,0";
}

void TestCharts::labels()
{
    QFETCH(int, kind);
    QFETCH(Limits, t);
    QFETCH(QRect, box);
    QFETCH(int, flags);
    QFETCH(QColor, colour);
    QFETCH(QString, text);
    Chart c(kind, t);
    c.add(13.0, 24.5);
    c.add(13.5, 25.1); // means 13.25 V and 24.8 °C
    const QImage shot = c.run();
    CHECK_TEXT(c.textCheck(shot, box, flags, colour.isValid() ? colour : c.textColour(), text));
    // A full stop instead of the comma would be seen.
    if (text.contains(','))
        QVERIFY(!c.textCheck(shot, box, flags, colour.isValid() ? colour : c.textColour(),
                             QString(text).replace(',', '.'))
                     .isEmpty());
}

void TestCharts::bars_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("deviation");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("bottom");
    // Two members at mean ± deviation; the first one's bar is checked. A bar of h pixels
    // covers rows 91 − h to 90 upward and 89 to 88 + h downward.
    QTest::newRow("volt exactly at the mean") << int(Volt) << 0.0 << kGreen << 89 << 89;
    QTest::newRow("volt small rise") << int(Volt) << 0.5 << kGreen << 71 << 90;   // 19.2 → 20
    QTest::newRow("volt small fall") << int(Volt) << -0.5 << kGreen << 89 << 108; // 20
    QTest::newRow("volt warning rise") << int(Volt) << 1.25 << kOrange << 42 << 90;
    QTest::newRow("volt twice emergency rise") << int(Volt) << 2.6 << kRed << 16 << 90;
    QTest::newRow("volt twice emergency fall") << int(Volt) << -2.6 << kRed << 89 << 163;
    QTest::newRow("temp exactly at the mean") << int(Temp) << 0.0 << kGreen << 89 << 89;
    QTest::newRow("temp small rise") << int(Temp) << 2.1 << kGreen << 69 << 90;      // 21 → 22
    QTest::newRow("temp warning fall") << int(Temp) << -4.5 << kOrange << 89 << 134; // 45 → 46
    QTest::newRow("temp twice emergency rise") << int(Temp) << 10.0 << kRed << 16 << 90;
    QTest::newRow("temp twice emergency fall") << int(Temp) << -10.0 << kRed << 89 << 163;
}

void TestCharts::bars()
{
    QFETCH(int, kind);
    QFETCH(double, deviation);
    QFETCH(QColor, colour);
    QFETCH(int, top);
    QFETCH(int, bottom);
    const double du = kind == Volt ? deviation : 0.0, dt = kind == Temp ? deviation : 0.0;
    Chart c(kind);
    c.add(13.0 + du, 25.0 + dt);
    c.add(13.0 - du, 25.0 - dt);
    const QImage shot = c.run();
    // Two members in 700 pixels: bars 50 wide in slots of 54, the first from x 152.
    const QSet<int> thresholdRows = {40, 44, 50, 130, 136, 140};
    for (int y = top; y <= bottom; ++y)
        QVERIFY2(thresholdRows.contains(y) || rowHas(shot, y, 152, 201, colour),
                 qPrintable(QString::number(y)));
    QVERIFY(shot.pixelColor(176, top - 1) != colour);
    QVERIFY(shot.pixelColor(176, bottom + 1) != colour);
    QVERIFY(shot.pixelColor(151, top) != colour);
    QVERIFY(shot.pixelColor(202, top) != colour);
    if (deviation != 0.0) // the mirrored member draws the other way
        QCOMPARE(shot.pixelColor(230, deviation > 0 ? 100 : 80), colour);
}

void TestCharts::noBarsBeforeStart()
{
    Chart c(Volt);
    c.add(14.5, 25.0);
    c.add(11.5, 25.0); // 1.5 V from the mean: emergency
    for (auto& b : c.batteries)
        b->updateState();
    c.chart->resize(900, 300);
    QImage shot = c.render();
    QCOMPARE(shot.pixelColor(176, 60), kWhite);
    QVERIFY(rowHas(shot, 90, 100, 700, kGrey));
    QCOMPARE(shot.pixelColor(750, 90), kWhite); // 700, not the chart's width
    CHECK_TEXT(c.textCheck(shot, QRect(60, 85, 30, 10), kRight, c.textColour(), "13,00"));
    shot = c.run();
    QVERIFY(rowHas(shot, 60, 152, 201, kRed));  // rising, 58 pixels
    QVERIFY(rowHas(shot, 120, 206, 255, kRed)); // falling
}

void TestCharts::noDataBar()
{
    Chart c(Volt);
    c.add(13.3, 25.0);
    c.add(12.7, 25.0);
    c.add(99.0, 99.0)->setNoData(true);
    const QImage shot = c.run();
    // Third slot from x 258: a flat grey bar on rows 88 to 91, columns 260 to 309.
    for (int y = 88; y <= 91; ++y)
        QVERIFY(rowHas(shot, y, 260, 309, kGrey));
    QCOMPARE(shot.pixelColor(280, 87), kWhite);
    QCOMPARE(shot.pixelColor(280, 92), kWhite);
    QCOMPARE(shot.pixelColor(258, 91), kWhite); // beside it only the zero line
    CHECK_TEXT(c.textCheck(shot, QRect(258, 75, 54, 10), Qt::AlignCenter, c.textColour(), "3"));
    // Its reading stays out of the mean.
    CHECK_TEXT(c.textCheck(shot, QRect(60, 85, 30, 10), kRight, c.textColour(), "13,00"));
}

void TestCharts::numberBoxes_data()
{
    QTest::addColumn<double>("deviation");
    QTest::addColumn<int>("chartHeight");
    QTest::addColumn<int>("boxTop");
    // Rising: above the bar. Falling: below the bar when it fits, else rows 76 to 85.
    QTest::newRow("rise of 20") << 0.5 << 300 << 71 - 13;
    QTest::newRow("fall of 20") << -0.5 << 300 << 109 + 3;
    QTest::newRow("fall of 75, tall chart") << -2.6 << 300 << 164 + 3;
    QTest::newRow("fall of 75, container height") << -2.6 << 160 << 76;
    QTest::newRow("fall of 57 just fits") << -1.469 << 160 << 146 + 3; // 146 + 13 = 159
    QTest::newRow("fall of 58 does not") << -1.495 << 160 << 76;
}

void TestCharts::numberBoxes()
{
    QFETCH(double, deviation);
    QFETCH(int, chartHeight);
    QFETCH(int, boxTop);
    Chart c(Volt);
    c.add(13.0 + deviation, 25.0);
    c.add(13.0 - deviation, 25.0);
    c.chart->setFixedHeight(chartHeight);
    const QImage shot = c.run();
    // The box spans the whole first slot, columns 150 to 203.
    CHECK_TEXT(c.textCheck(shot, QRect(150, boxTop, 54, 10), Qt::AlignCenter, c.textColour(), "1"));
}

void TestCharts::hundredthBarUsesWideGaps()
{
    Chart c(Volt);
    c.addMany(100); // all at the mean: 1-pixel bars on row 89
    c.chart->resize(1700, 300);
    const QImage shot = c.run();
    // Bar 99 in a 14-pixel slot from 1522, bar 100 in an 18-pixel slot from 1536.
    QVERIFY(rowHas(shot, 89, 1524, 1533, kGreen));
    QCOMPARE(shot.pixelColor(1534, 89), kGrey);
    QCOMPARE(shot.pixelColor(1539, 89), kGrey);
    QVERIFY(rowHas(shot, 89, 1540, 1549, kGreen));
    QCOMPARE(shot.pixelColor(1550, 89), kGrey);
    CHECK_TEXT(c.textCheck(shot, QRect(1536, 93, 18, 10), Qt::AlignCenter, c.textColour(), "100"));
    // C = 99 × 14 + 18 + 150 = 1554.
    QCOMPARE(shot.pixelColor(1554, 44), kOrange);
    QCOMPARE(shot.pixelColor(1555, 44), kWhite);
}

void TestCharts::widthWish_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("members");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("chartWidth");
    QTest::addColumn<int>("wish"); // -1: none
    QTest::addColumn<int>("lineEnd");
    QTest::newRow("10 members") << int(Volt) << 10 << true << 760 << 790 << 700;
    QTest::newRow("10 members, temperature") << int(Temp) << 10 << true << 760 << 790 << 700;
    QTest::newRow("10 members, already 790 wide") << int(Volt) << 10 << true << 790 << -1 << 700;
    QTest::newRow("10 members, before start") << int(Volt) << 10 << false << 900 << 700 << 700;
    QTest::newRow("5 members") << int(Volt) << 5 << true << 900 << 700 << 700;
    QTest::newRow("20 members: bars of 31") << int(Volt) << 20 << true << 900 << 950 << 850;
    QTest::newRow("60 members: bars of 10") << int(Volt) << 60 << true << 1000 << 1090 << 990;
    QTest::newRow("100 members") << int(Volt) << 100 << true << 1700 << 1654 << 1554;
    QTest::newRow("100 members, temperature") << int(Temp) << 100 << true << 1700 << 1654 << 1554;
    QTest::newRow("128 members") << int(Volt) << 128 << true << 2200 << 2158 << 2058;
    QTest::newRow("empty group") << int(Volt) << 0 << true << 800 << 700 << 700;
}

void TestCharts::widthWish()
{
    QFETCH(int, kind);
    QFETCH(int, members);
    QFETCH(bool, running);
    QFETCH(int, chartWidth);
    QFETCH(int, wish);
    QFETCH(int, lineEnd);
    Chart c(kind);
    c.addMany(members);
    c.chart->resize(chartWidth, 300);
    QSignalSpy spy(c.chart.get(), SIGNAL(needParentWidthResize(int)));
    const QImage shot = running ? c.run() : c.render();
    QCOMPARE(spy.count(), wish < 0 ? 0 : 1);
    if (wish >= 0)
        QCOMPARE(spy.at(0).at(0).toInt(), wish);
    QCOMPARE(shot.pixelColor(lineEnd, 140), kRed);
    QCOMPARE(shot.pixelColor(lineEnd + 1, 140), kWhite);
}

void TestCharts::missingPartsDrawNothingHarmful_data()
{
    QTest::addColumn<bool>("withGroup");
    QTest::addColumn<bool>("withThresholds");
    QTest::addColumn<int>("members");
    QTest::addColumn<int>("lineEnd"); // -1: nothing below the caption
    QTest::newRow("nothing set") << false << false << 0 << -1;
    QTest::newRow("no thresholds") << true << false << 10 << -1;
    QTest::newRow("no group: lines to width − 100") << false << true << 0 << 700;
    QTest::newRow("members without data") << true << true << 4 << 700;
}

void TestCharts::missingPartsDrawNothingHarmful()
{
    QFETCH(bool, withGroup);
    QFETCH(bool, withThresholds);
    QFETCH(int, members);
    QFETCH(int, lineEnd);
    for (int kind : {int(Volt), int(Temp)}) {
        Chart c(kind);
        c.addMany(members);
        for (auto& b : c.batteries)
            b->setNoData(true);
        c.chart->setGroup(withGroup ? &c.group : nullptr);
        c.chart->setThresholds(withThresholds ? &c.thresholds : nullptr);
        c.chart->resize(800, 300);
        QSignalSpy spy(c.chart.get(), SIGNAL(needParentWidthResize(int)));
        const QImage shot = c.run();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 700);
        if (lineEnd < 0) { // only the caption, rows 10 to 25
            for (int y = 26; y < shot.height(); ++y)
                QVERIFY2(rowHas(shot, y, 0, shot.width() - 1, kWhite), qPrintable(QString::number(y)));
            continue;
        }
        QCOMPARE(shot.pixelColor(lineEnd, 40), kRed);
        QCOMPARE(shot.pixelColor(lineEnd + 1, 40), kWhite);
        for (int i = 0; i < members; ++i) // flat grey bars only
            QVERIFY(shot.pixelColor(152 + i * 54, 88) == kGrey &&
                    shot.pixelColor(152 + i * 54, 87) == kWhite);
    }
}

void TestCharts::zeroEmergencyThresholdsStayInBounds()
{
    // Zero emergency thresholds make every ratio infinite or undefined: bars stop at their
    // cap and the warning lines leave the chart instead of overflowing an int.
    for (int kind : {int(Volt), int(Temp)}) {
        Chart c(kind, {0.0, 0.0, 0.0, 0.0, 1.2, 1.2});
        c.add(13.1, 25.1);
        c.add(12.9, 24.9);
        const QImage shot = c.run();
        QCOMPARE(shot.pixelColor(400, 40), kRed);
        QCOMPARE(shot.pixelColor(400, 140), kRed);
        QCOMPARE(shot.pixelColor(170, 16), kRed);
        QCOMPARE(shot.pixelColor(170, 15), kWhite);
        QCOMPARE(shot.pixelColor(230, 163), kRed);
        QCOMPARE(shot.pixelColor(230, 164), kWhite);
        for (int y = 0; y < shot.height(); ++y)
            QVERIFY(y == 40 || y == 140 || shot.pixelColor(500, y) != kOrange);
    }
}

QTEST_MAIN(TestCharts)
#include "tst_charts.moc"
