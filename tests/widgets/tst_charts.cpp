// The deviation bar charts, checked on rendered pixels: lines, bars, numbers and texts, and
// the width each chart asks its container for.
#include "config/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPGroupTemp.h"
#include "widgets/MKPGroupVolt.h"

#include <QLabel>
#include <QPainter>
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
    void thresholdLines_data()
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
    void thresholdLines()
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
            // One pixel high, from x 100 to 700 before the exchange runs, not to the chart's width.
            QVERIFY2(rowHas(shot, line.first, 100, 700, line.second),
                     qPrintable(QString::number(line.first)));
            QVERIFY(shot.pixelColor(99, line.first) != line.second &&
                    shot.pixelColor(701, line.first) != line.second);
            QVERIFY(shot.pixelColor(400, line.first - 1) != line.second);
            QVERIFY(shot.pixelColor(400, line.first + 1) != line.second);
        }
        // The zero line: rows 89 and 90.
        QVERIFY(rowHas(shot, 89, 100, 700, kGrey) && rowHas(shot, 90, 100, 700, kGrey));
        QVERIFY(shot.pixelColor(400, 88) == kWhite && shot.pixelColor(400, 91) == kWhite);
    }

    void labels_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<Limits>("t");
        QTest::addColumn<QRect>("box");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QColor>("colour"); // invalid: the chart's own text colour
        QTest::addColumn<QString>("text");
        const Limits d = kDefaults, own = {4, 3, 2.0, 2.5, 1.5, 0.5}; // offsets 37 above, 10 below
        QTest::newRow("volt upper warning")
            << int(Volt) << d << QRect(60, 39, 30, 10) << kRight << kOrange << "+1,2";
        QTest::newRow("volt upper emergency")
            << int(Volt) << d << QRect(100, 27, 30, 10) << kLeft << kRed << "+1,3";
        QTest::newRow("volt mean") << int(Volt) << d << QRect(60, 85, 30, 10) << kRight << QColor()
                                   << "13,25";
        QTest::newRow("volt own upper")
            << int(Volt) << own << QRect(60, 48, 30, 10) << kRight << kOrange << "+1,5";
        QTest::newRow("volt own lower")
            << int(Volt) << own << QRect(60, 95, 30, 10) << kRight << kOrange << "-0,5";
        QTest::newRow("volt own emergency")
            << int(Volt) << own << QRect(100, 143, 30, 10) << kLeft << kRed << "-2,5";
        QTest::newRow("temp lower warning")
            << int(Temp) << d << QRect(60, 125, 30, 10) << kRight << kOrange << "-4,0";
        QTest::newRow("temp upper emergency")
            << int(Temp) << d << QRect(100, 27, 30, 10) << kLeft << kRed << "+5,0";
        QTest::newRow("temp mean") << int(Temp) << d << QRect(60, 85, 30, 10) << kRight << QColor() << "24,8";
        QTest::newRow("temp other lower")
            << int(Temp) << own << QRect(60, 122, 30, 10) << kRight << kOrange << "-3,0";
    }
    void labels()
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
        const QColor pen = colour.isValid() ? colour : c.textColour();
        CHECK_TEXT(c.textCheck(shot, box, flags, pen, text));
        // A full stop instead of the comma would be seen.
        QVERIFY(!c.textCheck(shot, box, flags, pen, QString(text).replace(',', '.')).isEmpty());
    }

    void bars_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<int>("height");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        QTest::addColumn<int>("numberTop");
        // Two members at mean ± deviation; the first one's bar is checked. A bar of h pixels
        // covers rows 91 − h to 90 upward and 89 to 88 + h downward; its number sits above a
        // rising bar, below a falling one where that fits, else on rows 76 to 85 (-1: crossed by a line).
        QTest::newRow("volt at the mean") << int(Volt) << 0.0 << 300 << kGreen << 89 << 89 << 93;
        QTest::newRow("volt small rise") << int(Volt) << 0.5 << 300 << kGreen << 71 << 90 << 58; // 19.2 → 20
        QTest::newRow("volt small fall") << int(Volt) << -0.5 << 300 << kGreen << 89 << 108 << 112;
        QTest::newRow("volt warning rise") << int(Volt) << 1.25 << 300 << kOrange << 42 << 90 << 29;
        QTest::newRow("volt twice emergency rise") << int(Volt) << 2.6 << 300 << kRed << 16 << 90 << 3;
        QTest::newRow("volt twice emergency fall") << int(Volt) << -2.6 << 300 << kRed << 89 << 163 << 167;
        QTest::newRow("volt fall in a low chart") << int(Volt) << -2.6 << 160 << kRed << 89 << 159 << 76;
        QTest::newRow("volt fall of 57 just fits") << int(Volt) << -1.469 << 160 << kRed << 89 << 145 << 149;
        QTest::newRow("volt fall of 58 does not") << int(Volt) << -1.495 << 160 << kRed << 89 << 146 << 76;
        QTest::newRow("temp small rise") << int(Temp) << 2.1 << 300 << kGreen << 69 << 90 << 56; // 21 → 22
        QTest::newRow("temp warning fall") << int(Temp) << -4.5 << 300 << kOrange << 89 << 134 << -1;
        QTest::newRow("temp twice emergency rise") << int(Temp) << 10.0 << 300 << kRed << 16 << 90 << 3;
        QTest::newRow("temp twice emergency fall") << int(Temp) << -10.0 << 300 << kRed << 89 << 163 << 167;
    }
    void bars()
    {
        QFETCH(int, kind);
        QFETCH(double, deviation);
        QFETCH(int, height);
        QFETCH(QColor, colour);
        QFETCH(int, top);
        QFETCH(int, bottom);
        QFETCH(int, numberTop);
        const double du = kind == Volt ? deviation : 0.0, dt = kind == Temp ? deviation : 0.0;
        Chart c(kind);
        c.add(13.0 + du, 25.0 + dt);
        c.add(13.0 - du, 25.0 - dt);
        c.chart->setFixedHeight(height);
        const QImage shot = c.run();
        // Two members in 700 pixels: bars 50 wide in slots of 54, the first from x 152.
        const QSet<int> thresholdRows = {40, 44, 50, 130, 136, 140};
        for (int y = top; y <= bottom; ++y)
            QVERIFY2(thresholdRows.contains(y) || rowHas(shot, y, 152, 201, colour),
                     qPrintable(QString::number(y)));
        QVERIFY(shot.pixelColor(176, top - 1) != colour);
        QVERIFY(bottom + 1 == shot.height() || shot.pixelColor(176, bottom + 1) != colour);
        QVERIFY(shot.pixelColor(151, top) != colour && shot.pixelColor(202, top) != colour);
        if (deviation != 0.0) // the mirrored member draws the other way
            QCOMPARE(shot.pixelColor(230, deviation > 0 ? 100 : 80), colour);
        if (numberTop >= 0)
            CHECK_TEXT(
                c.textCheck(shot, QRect(150, numberTop, 54, 10), Qt::AlignCenter, c.textColour(), "1"));
    }

    void noBarsBeforeStartNorForNoData()
    {
        Chart c(Volt);
        c.add(14.5, 25.0);
        c.add(11.5, 25.0); // 1.5 V from the mean: an emergency
        c.add(99.0, 99.0)->setNoData(true);
        for (auto& b : c.batteries)
            b->updateState();
        c.chart->resize(900, 300);
        QImage shot = c.render();
        QCOMPARE(shot.pixelColor(176, 60), kWhite);
        QVERIFY(rowHas(shot, 90, 100, 700, kGrey) && shot.pixelColor(750, 90) == kWhite);
        CHECK_TEXT(c.textCheck(shot, QRect(60, 85, 30, 10), kRight, c.textColour(), "13,00"));
        shot = c.run();
        QVERIFY(rowHas(shot, 60, 152, 201, kRed) && rowHas(shot, 120, 206, 255, kRed));
        // Third slot from x 258: a flat grey bar on rows 88 to 91, its reading out of the mean.
        for (int y = 88; y <= 91; ++y)
            QVERIFY(rowHas(shot, y, 260, 309, kGrey));
        QVERIFY(shot.pixelColor(280, 87) == kWhite && shot.pixelColor(280, 92) == kWhite);
        QCOMPARE(shot.pixelColor(258, 91), kWhite);
        CHECK_TEXT(c.textCheck(shot, QRect(258, 75, 54, 10), Qt::AlignCenter, c.textColour(), "3"));
        CHECK_TEXT(c.textCheck(shot, QRect(60, 85, 30, 10), kRight, c.textColour(), "13,00"));
    }

    void hundredthBarUsesWideGaps()
    {
        Chart c(Volt);
        c.addMany(100); // all at the mean: 1-pixel bars on row 89
        c.chart->resize(1700, 300);
        const QImage shot = c.run();
        // Bar 99 in a 14-pixel slot from 1522, bar 100 in an 18-pixel slot from 1536.
        QVERIFY(rowHas(shot, 89, 1524, 1533, kGreen) && rowHas(shot, 89, 1540, 1549, kGreen));
        QVERIFY(shot.pixelColor(1534, 89) == kGrey && shot.pixelColor(1539, 89) == kGrey);
        QCOMPARE(shot.pixelColor(1550, 89), kGrey);
        CHECK_TEXT(c.textCheck(shot, QRect(1536, 93, 18, 10), Qt::AlignCenter, c.textColour(), "100"));
    }

    void widthWish_data()
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
        QTest::newRow("99 members") << int(Volt) << 99 << true << 1700 << 1636 << 1536;
        QTest::newRow("100 members") << int(Temp) << 100 << true << 1700 << 1654 << 1554;
        QTest::newRow("128 members") << int(Volt) << 128 << true << 2200 << 2158 << 2058;
        QTest::newRow("empty group") << int(Volt) << 0 << true << 800 << 700 << 700;
    }
    void widthWish()
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
        QCOMPARE(spy.value(0).value(0).toInt(), qMax(wish, 0));
        QVERIFY(shot.pixelColor(lineEnd, 140) == kRed && shot.pixelColor(lineEnd + 1, 140) == kWhite);
    }

    void missingPartsDrawNothingHarmful()
    {
        for (int kind : {int(Volt), int(Temp)}) {
            // Zero emergency thresholds make every ratio infinite or undefined: bars stop at
            // their cap and the warning lines leave the chart instead of overflowing an int.
            Chart zero(kind, {0.0, 0.0, 0.0, 0.0, 1.2, 1.2});
            zero.add(13.1, 25.1);
            zero.add(12.9, 24.9);
            QImage shot = zero.run();
            QVERIFY(shot.pixelColor(170, 16) == kRed && shot.pixelColor(170, 15) == kWhite);
            QVERIFY(shot.pixelColor(230, 163) == kRed && shot.pixelColor(230, 164) == kWhite);
            for (int y = 0; y < shot.height(); ++y)
                QVERIFY(y == 40 || y == 140 || shot.pixelColor(500, y) != kOrange);
            // No thresholds: only the caption, rows 10 to 25. No group: lines to width − 100.
            Chart bare(kind);
            bare.addMany(4);
            bare.chart->setThresholds(nullptr);
            shot = bare.run();
            for (int y = 26; y < shot.height(); ++y)
                QVERIFY2(rowHas(shot, y, 0, shot.width() - 1, kWhite), qPrintable(QString::number(y)));
            bare.chart->setThresholds(&bare.thresholds);
            bare.chart->setGroup(nullptr);
            bare.chart->resize(800, 300);
            shot = bare.render();
            QVERIFY(shot.pixelColor(700, 40) == kRed && shot.pixelColor(701, 40) == kWhite);
        }
        // The caption fits its box; the container's limits leave the width the chart computes with.
        Chart c(Temp);
        QVERIFY(c.chart->findChild<QLabel*>()->sizeHint().width() <= 91);
        c.chart->setMinimumSize(400, 160);
        QCOMPARE(c.chart->baseMinimumWidth(), 700);
    }
};

QTEST_MAIN(TestCharts)
#include "tst_charts.moc"
