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
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
const QColor kWhite(255, 255, 255);
const QColor kGrey(215, 215, 215);
const QColor kGreen(37, 197, 12);
const QColor kOrange(255, 171, 52);
const QColor kRed(255, 75, 21);

enum Kind
{
    Volt,
    Temp
};

std::unique_ptr<DeviationChart> makeChart(int kind)
{
    std::unique_ptr<DeviationChart> chart;
    if (kind == Volt)
        chart = std::make_unique<MKPGroupVolt>();
    else
        chart = std::make_unique<MKPGroupTemp>();
    // The page's white background, as the deviations page gives it.
    chart->setStyleSheet(QStringLiteral("background-color: white"));
    return chart;
}

// A group whose members are set up by the test; owns its batteries.
struct Group
{
    AlarmThresholds thresholds;
    BatteryGroup group{1};
    std::vector<std::unique_ptr<Battery>> batteries;

    explicit Group(int count = 0, double voltage = 13.0, double temperature = 25.0)
    {
        for (int i = 0; i < count; ++i)
            add(voltage, temperature);
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
    void evaluate()
    {
        for (auto& b : batteries)
            b->updateState();
    }
};

QImage render(DeviationChart& chart)
{
    return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The same text drawn alone on the white background, with the chart's font.
QImage textReference(const DeviationChart& chart, const QSize& size, const QRect& box, int flags,
                     const QColor& colour, const QString& text)
{
    QImage ref(size, QImage::Format_RGB32);
    ref.fill(kWhite);
    QPainter p(&ref);
    p.setFont(chart.textFont());
    p.setPen(colour);
    p.drawText(box, flags, text);
    return ref;
}

// Compares a box of the chart's picture with the text drawn alone; the box must hold ink.
bool showsText(const DeviationChart& chart, const QImage& shot, const QRect& box, int flags,
               const QColor& colour, const QString& text, QByteArray* why)
{
    const QImage ref = textReference(chart, shot.size(), box, flags, colour, text);
    int ink = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            if (shot.pixel(x, y) != ref.pixel(x, y)) {
                *why = QStringLiteral("pixel (%1, %2) differs from \"%3\" %4 %5")
                           .arg(x)
                           .arg(y)
                           .arg(text)
                           .arg(shot.pixel(x, y), 0, 16)
                           .arg(ref.pixel(x, y), 0, 16)
                           .toUtf8();
                return false;
            }
            if (shot.pixelColor(x, y) != kWhite)
                ++ink;
        }
    if (ink < 8) {
        *why = "no text drawn in the box (is a font installed?)";
        return false;
    }
    return true;
}

QColor textColour(const QWidget& w)
{
    return w.palette().color(w.foregroundRole());
}

QString colourName(const QColor& c)
{
    return c.name();
}

bool rowHas(const QImage& shot, int y, int x0, int x1, const QColor& colour)
{
    for (int x = x0; x <= x1; ++x)
        if (shot.pixelColor(x, y) != colour)
            return false;
    return true;
}
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
    void textComparisonSeesTheComma();
    void beforeStartNoBars();
    void bars_data();
    void bars();
    void noDataBar();
    void numberBoxes_data();
    void numberBoxes();
    void hundredthBarUsesWideGaps();
    void widthWish_data();
    void widthWish();
    void nothingWithoutThresholds();
    void nullPointersAndEmptyGroups_data();
    void nullPointersAndEmptyGroups();
    void zeroEmergencyThresholdsStayInBounds();
    void paintingRefreshesGroupCaption();
};

void TestCharts::initTestCase()
{
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: chart texts would render blank");
}

void TestCharts::construction_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("captionName");
    QTest::addColumn<int>("captionWidth");
    QTest::addColumn<QString>("captionText");
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
    QFETCH(QString, objectName);
    QFETCH(QString, captionName);
    QFETCH(int, captionWidth);
    QFETCH(QString, captionText);
    auto chart = makeChart(kind);
    QCOMPARE(chart->objectName(), objectName);
    QCOMPARE(chart->windowTitle(), QString("Form"));
    QCOMPARE(chart->size(), QSize(700, 300));
    QCOMPARE(chart->minimumSize(), QSize(700, 300));
    QCOMPARE(chart->maximumSize(), QSize(16777215, 300));
    QCOMPARE(chart->baseMinimumWidth(), 700);
    QVERIFY(!chart->group() && !chart->thresholds() && !chart->isRunning());
    auto* caption = chart->findChild<QLabel*>(captionName);
    QVERIFY(caption);
    QCOMPARE(caption->text(), captionText);
    QCOMPARE(caption->pos(), QPoint(10, 10));
    QCOMPARE(caption->height(), 16);
    QCOMPARE(caption->width(), captionWidth);
    // The whole caption fits its box, whatever the application font.
    QVERIFY(caption->width() >= caption->sizeHint().width());
    // Later limits from the container leave the width the chart computes with.
    chart->setMinimumSize(400, 160);
    QCOMPARE(chart->baseMinimumWidth(), 700);
}

void TestCharts::thresholdLines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVector<double>>("t"); // tE, tW, UhE, UlE, UhW, UlW
    QTest::addColumn<int>("upperWarningY");
    QTest::addColumn<int>("lowerWarningY");
    const QVector<double> defaults = {5.0, 4.0, 1.3, 1.3, 1.2, 1.2};
    QTest::newRow("voltage, defaults") << int(Volt) << defaults << 44 << 136;
    QTest::newRow("temperature, defaults") << int(Temp) << defaults << 50 << 130;
    // Offsets truncate: 0.99 / 1.0 × 50 = 49.5 gives 49; each side has its own pair.
    QTest::newRow("voltage, truncated, own sides")
        << int(Volt) << QVector<double>{5.0, 4.0, 1.0, 2.5, 0.99, 0.5} << 41 << 100;
    QTest::newRow("temperature, one pair for both sides")
        << int(Temp) << QVector<double>{4.0, 3.0, 1.0, 2.5, 0.99, 0.5} << 53 << 127;
}

void TestCharts::thresholdLines()
{
    QFETCH(int, kind);
    QFETCH(QVector<double>, t);
    QFETCH(int, upperWarningY);
    QFETCH(int, lowerWarningY);
    Group g(3);
    g.thresholds = {t[0], t[1], t[2], t[3], t[4], t[5]};
    auto chart = makeChart(kind);
    chart->resize(800, 300);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    const QImage shot = render(*chart);

    const struct
    {
        int y;
        QColor colour;
    } lines[] = {{upperWarningY, kOrange}, {lowerWarningY, kOrange}, {40, kRed}, {140, kRed}};
    for (const auto& line : lines) {
        // From x 100 to the right end, 700 before the exchange runs.
        QVERIFY2(rowHas(shot, line.y, 100, 700, line.colour), qPrintable(QString::number(line.y)));
        QVERIFY(shot.pixelColor(99, line.y) != line.colour);
        QVERIFY(shot.pixelColor(701, line.y) != line.colour);
        QVERIFY(shot.pixelColor(400, line.y - 1) != line.colour);
        QVERIFY(shot.pixelColor(400, line.y + 1) != line.colour);
    }
    // The zero line: 2 pixels (rows 89 and 90) in its light grey.
    QVERIFY(rowHas(shot, 89, 100, 700, kGrey));
    QVERIFY(rowHas(shot, 90, 100, 700, kGrey));
    QCOMPARE(shot.pixelColor(400, 88), kWhite);
    QCOMPARE(shot.pixelColor(400, 91), kWhite);
}

void TestCharts::labels_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVector<double>>("t"); // tE, tW, UhE, UlE, UhW, UlW
    QTest::addColumn<QRect>("box");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("colour"); // "text" for the chart's own text colour
    QTest::addColumn<QString>("text");
    const int right = Qt::AlignRight | Qt::AlignVCenter;
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    const QString orange = colourName(kOrange), red = colourName(kRed);
    const QVector<double> d = {5.0, 4.0, 1.3, 1.3, 1.2, 1.2};
    // Each voltage side has its own pair: offsets 37 above and 10 below.
    const QVector<double> own = {4.0, 3.0, 2.0, 2.5, 1.5, 0.5};
    const struct
    {
        const char* name;
        int kind;
        QVector<double> t;
        QRect box;
        int flags;
        QString colour;
        const char* text;
    } rows[] = {
        {"volt upper warning", Volt, d, QRect(60, 39, 30, 10), right, orange, "+1,2"},
        {"volt lower warning", Volt, d, QRect(60, 131, 30, 10), right, orange, "-1,2"},
        {"volt upper emergency", Volt, d, QRect(100, 27, 30, 10), left, red, "+1,3"},
        {"volt lower emergency", Volt, d, QRect(100, 143, 30, 10), left, red, "-1,3"},
        {"volt mean", Volt, d, QRect(60, 85, 30, 10), right, "text", "13,25"},
        {"volt own upper warning", Volt, own, QRect(60, 48, 30, 10), right, orange, "+1,5"},
        {"volt own lower warning", Volt, own, QRect(60, 95, 30, 10), right, orange, "-0,5"},
        {"volt own upper emergency", Volt, own, QRect(100, 27, 30, 10), left, red, "+2,0"},
        {"volt own lower emergency", Volt, own, QRect(100, 143, 30, 10), left, red, "-2,5"},
        {"temp upper warning", Temp, d, QRect(60, 45, 30, 10), right, orange, "+4,0"},
        {"temp lower warning", Temp, d, QRect(60, 125, 30, 10), right, orange, "-4,0"},
        {"temp upper emergency", Temp, d, QRect(100, 27, 30, 10), left, red, "+5,0"},
        {"temp lower emergency", Temp, d, QRect(100, 143, 30, 10), left, red, "-5,0"},
        {"temp mean", Temp, d, QRect(60, 85, 30, 10), right, "text", "24,8"},
        {"temp other lower warning", Temp, own, QRect(60, 122, 30, 10), right, orange, "-3,0"},
        {"temp other lower emergency", Temp, own, QRect(100, 143, 30, 10), left, red, "-4,0"},
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << r.kind << r.t << r.box << r.flags << r.colour << QString::fromUtf8(r.text);
}

void TestCharts::labels()
{
    QFETCH(int, kind);
    QFETCH(QVector<double>, t);
    QFETCH(QRect, box);
    QFETCH(int, flags);
    QFETCH(QString, colour);
    QFETCH(QString, text);
    Group g;
    g.thresholds = {t[0], t[1], t[2], t[3], t[4], t[5]};
    g.add(13.0, 24.5);
    g.add(13.5, 25.1); // means 13.25 V and 24.8 °C
    auto chart = makeChart(kind);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    chart->setRunning(true);
    const QImage shot = render(*chart);
    const QColor pen = colour == "text" ? textColour(*chart) : QColor(colour);
    QByteArray why;
    QVERIFY2(showsText(*chart, shot, box, flags, pen, text, &why), why.constData());
}

void TestCharts::textComparisonSeesTheComma()
{
    // The label check above would not pass a full stop for the comma.
    Group g(1);
    auto chart = makeChart(Volt);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    const QImage shot = render(*chart);
    const int flags = Qt::AlignRight | Qt::AlignVCenter;
    QByteArray why;
    QVERIFY(showsText(*chart, shot, QRect(60, 39, 30, 10), flags, kOrange, "+1,2", &why));
    QVERIFY(!showsText(*chart, shot, QRect(60, 39, 30, 10), flags, kOrange, "+1.2", &why));
}

void TestCharts::beforeStartNoBars()
{
    Group g;
    g.add(14.5, 25.0);
    g.add(11.5, 25.0);
    g.evaluate(); // both 1.5 V from the mean: emergency bars once running
    auto chart = makeChart(Volt);
    chart->resize(900, 300);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    QImage shot = render(*chart);
    for (int y = 16; y <= 163; ++y)
        QVERIFY2(!rowHas(shot, y, 152, 160, kRed) || y == 40 || y == 140, qPrintable(QString::number(y)));
    QVERIFY(rowHas(shot, 90, 100, 700, kGrey));
    QCOMPARE(shot.pixelColor(750, 90), kWhite); // the line stops at 700 even in a wider chart
    QByteArray why;
    QVERIFY2(showsText(*chart, shot, QRect(60, 85, 30, 10), Qt::AlignRight | Qt::AlignVCenter,
                       textColour(*chart), "13,00", &why),
             why.constData());

    chart->setRunning(true);
    shot = render(*chart);
    QVERIFY(rowHas(shot, 60, 152, 201, kRed));  // rising, 58 pixels
    QVERIFY(rowHas(shot, 120, 206, 255, kRed)); // falling
}

void TestCharts::bars_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("deviation");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("bottom");
    // Two members at mean ± deviation; the first one's bar is checked. A bar of h pixels
    // covers rows 91 − h to 90 upward and 89 to 88 + h downward.
    QTest::newRow("volt exactly at the mean") << int(Volt) << 0.0 << colourName(kGreen) << 89 << 89;
    QTest::newRow("volt small rise") << int(Volt) << 0.5 << colourName(kGreen) << 71 << 90;   // 19.2 → 20
    QTest::newRow("volt small fall") << int(Volt) << -0.5 << colourName(kGreen) << 89 << 108; // 20
    QTest::newRow("volt warning rise") << int(Volt) << 1.25 << colourName(kOrange) << 42 << 90;
    QTest::newRow("volt twice emergency rise") << int(Volt) << 2.6 << colourName(kRed) << 16 << 90;
    QTest::newRow("volt twice emergency fall") << int(Volt) << -2.6 << colourName(kRed) << 89 << 163;
    QTest::newRow("temp exactly at the mean") << int(Temp) << 0.0 << colourName(kGreen) << 89 << 89;
    QTest::newRow("temp small rise") << int(Temp) << 2.1 << colourName(kGreen) << 69 << 90;      // 21 → 22
    QTest::newRow("temp warning fall") << int(Temp) << -4.5 << colourName(kOrange) << 89 << 134; // 45 → 46
    QTest::newRow("temp twice emergency rise") << int(Temp) << 10.0 << colourName(kRed) << 16 << 90;
    QTest::newRow("temp twice emergency fall") << int(Temp) << -10.0 << colourName(kRed) << 89 << 163;
}

void TestCharts::bars()
{
    QFETCH(int, kind);
    QFETCH(double, deviation);
    QFETCH(QString, colour);
    QFETCH(int, top);
    QFETCH(int, bottom);
    const QColor bar(colour);
    const double du = kind == Volt ? deviation : 0.0;
    const double dt = kind == Temp ? deviation : 0.0;
    Group g;
    g.add(13.0 + du, 25.0 + dt);
    g.add(13.0 - du, 25.0 - dt);
    g.evaluate();
    auto chart = makeChart(kind);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    chart->setRunning(true);
    const QImage shot = render(*chart);

    // Two members in 700 pixels: bars 50 wide in slots of 54, the first from x 152.
    for (int y = top; y <= bottom; ++y) {
        const bool crossed = y == 40 || y == 140 || y == 44 || y == 136 || y == 50 || y == 130;
        if (!crossed)
            QVERIFY2(rowHas(shot, y, 152, 201, bar), qPrintable(QString("row %1").arg(y)));
    }
    QVERIFY(shot.pixelColor(176, top - 1) != bar);
    QVERIFY(shot.pixelColor(176, bottom + 1) != bar);
    QVERIFY(shot.pixelColor(151, top) != bar);
    QVERIFY(shot.pixelColor(202, top) != bar);
    // The mirrored member draws the other way.
    if (deviation != 0.0)
        QVERIFY(shot.pixelColor(230, deviation > 0 ? 100 : 80) == bar);
}

void TestCharts::noDataBar()
{
    Group g;
    g.add(13.3, 25.0);
    g.add(12.7, 25.0);
    Battery* silent = g.add(99.0, 99.0);
    silent->setNoData(true);
    g.evaluate();
    auto chart = makeChart(Volt);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    chart->setRunning(true);
    const QImage shot = render(*chart);
    // Third slot: X = 150 + 2 × 54 = 258, bar from 260 to 309, rows 88 to 91 in grey.
    for (int y = 88; y <= 91; ++y)
        QVERIFY(rowHas(shot, y, 260, 309, kGrey));
    QCOMPARE(shot.pixelColor(280, 87), kWhite);
    QCOMPARE(shot.pixelColor(280, 92), kWhite);
    QCOMPARE(shot.pixelColor(258, 91), kWhite); // the gap shows the 2-pixel zero line only
    QByteArray why;
    QVERIFY2(showsText(*chart, shot, QRect(258, 75, 54, 10), Qt::AlignCenter, textColour(*chart), "3", &why),
             why.constData());
    // Its reading is left out of the mean: 13,00, not 41,67.
    QVERIFY2(showsText(*chart, shot, QRect(60, 85, 30, 10), Qt::AlignRight | Qt::AlignVCenter,
                       textColour(*chart), "13,00", &why),
             why.constData());
}

void TestCharts::numberBoxes_data()
{
    QTest::addColumn<double>("deviation");
    QTest::addColumn<int>("chartHeight");
    QTest::addColumn<int>("boxTop");
    // Rising bar: above its top. Falling bar: below its bottom when that fits, else just
    // above the zero line (rows 76 to 85).
    QTest::newRow("rise of 20") << 0.5 << 300 << 71 - 13;
    QTest::newRow("fall of 20") << -0.5 << 300 << 109 + 3;
    QTest::newRow("fall of 75, tall chart") << -2.6 << 300 << 164 + 3;
    QTest::newRow("fall of 75, container height") << -2.6 << 160 << 76;
    // bottom 89 + 57 = 146, 146 + 13 = 159 = height − 1: still fits below.
    QTest::newRow("fall of 57 fits exactly") << -1.469 << 160 << 146 + 3;
    QTest::newRow("fall of 58 does not") << -1.495 << 160 << 76;
}

void TestCharts::numberBoxes()
{
    QFETCH(double, deviation);
    QFETCH(int, chartHeight);
    QFETCH(int, boxTop);
    Group g;
    g.add(13.0 + deviation, 25.0);
    g.add(13.0 - deviation, 25.0);
    g.evaluate();
    auto chart = makeChart(Volt);
    chart->setFixedHeight(chartHeight);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    chart->setRunning(true);
    const QImage shot = render(*chart);
    QByteArray why;
    // The box spans the whole first slot: columns 150 to 203.
    QVERIFY2(
        showsText(*chart, shot, QRect(150, boxTop, 54, 10), Qt::AlignCenter, textColour(*chart), "1", &why),
        why.constData());
}

void TestCharts::hundredthBarUsesWideGaps()
{
    Group g(100);
    g.evaluate(); // all at the mean: 1-pixel green bars on row 89
    auto chart = makeChart(Volt);
    chart->resize(1700, 300);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    chart->setRunning(true);
    const QImage shot = render(*chart);
    // Bar 99 (i = 98) in a 14-pixel slot from 1522: columns 1524..1533.
    QVERIFY(rowHas(shot, 89, 1524, 1533, kGreen));
    QCOMPARE(shot.pixelColor(1534, 89), kGrey);
    // Bar 100 (i = 99) in an 18-pixel slot from 1536 with gaps of 4: columns 1540..1549.
    QVERIFY(rowHas(shot, 89, 1540, 1549, kGreen));
    QCOMPARE(shot.pixelColor(1539, 89), kGrey);
    QCOMPARE(shot.pixelColor(1550, 89), kGrey);
    QByteArray why;
    QVERIFY2(
        showsText(*chart, shot, QRect(1536, 93, 18, 10), Qt::AlignCenter, textColour(*chart), "100", &why),
        why.constData());
    // The lines end at C = 99 × 14 + 18 + 150 = 1554.
    QCOMPARE(shot.pixelColor(1554, 44), kOrange);
    QCOMPARE(shot.pixelColor(1555, 44), kWhite);
}

void TestCharts::widthWish_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("members");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("chartWidth");
    QTest::addColumn<int>("wish"); // -1: no wish
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
    QTest::newRow("empty group, running") << int(Volt) << 0 << true << 800 << 700 << 700;
}

void TestCharts::widthWish()
{
    QFETCH(int, kind);
    QFETCH(int, members);
    QFETCH(bool, running);
    QFETCH(int, chartWidth);
    QFETCH(int, wish);
    QFETCH(int, lineEnd);
    Group g(members);
    g.evaluate();
    auto chart = makeChart(kind);
    chart->setGroup(&g.group);
    chart->setThresholds(&g.thresholds);
    chart->resize(chartWidth, 300);
    if (running)
        chart->setRunning(true);
    QSignalSpy spy(chart.get(), SIGNAL(needParentWidthResize(int)));
    const QImage shot = render(*chart);
    if (wish < 0) {
        QCOMPARE(spy.count(), 0);
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), wish);
    }
    QCOMPARE(shot.pixelColor(lineEnd, 140), kRed);
    if (lineEnd + 1 < shot.width())
        QCOMPARE(shot.pixelColor(lineEnd + 1, 140), kWhite);
}

void TestCharts::nothingWithoutThresholds()
{
    for (int kind : {int(Volt), int(Temp)}) {
        Group g(10);
        g.evaluate();
        auto chart = makeChart(kind);
        chart->setGroup(&g.group);
        chart->setRunning(true);
        QSignalSpy spy(chart.get(), SIGNAL(needParentWidthResize(int)));
        const QImage shot = render(*chart);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 700);
        // Only the background and the caption (rows 10 to 25).
        for (int y = 26; y < shot.height(); ++y)
            QVERIFY2(rowHas(shot, y, 0, shot.width() - 1, kWhite), qPrintable(QString::number(y)));
    }
}

void TestCharts::nullPointersAndEmptyGroups_data()
{
    QTest::addColumn<bool>("withGroup");
    QTest::addColumn<bool>("withThresholds");
    QTest::addColumn<int>("members");
    QTest::addColumn<int>("lineEnd"); // -1: no lines at all
    QTest::newRow("nothing set") << false << false << 0 << -1;
    QTest::newRow("group only") << true << false << 3 << -1;
    // Without a group the lines run to the chart's width − 100.
    QTest::newRow("thresholds only") << false << true << 0 << 700;
    QTest::newRow("empty group") << true << true << 0 << 700;
    QTest::newRow("members without data") << true << true << 4 << 700;
}

void TestCharts::nullPointersAndEmptyGroups()
{
    QFETCH(bool, withGroup);
    QFETCH(bool, withThresholds);
    QFETCH(int, members);
    QFETCH(int, lineEnd);
    Group g(members);
    for (auto& b : g.batteries)
        b->setNoData(true);
    g.evaluate();
    for (int kind : {int(Volt), int(Temp)}) {
        auto chart = makeChart(kind);
        chart->resize(800, 300);
        chart->setGroup(withGroup ? &g.group : nullptr);
        chart->setThresholds(withThresholds ? &g.thresholds : nullptr);
        chart->setRunning(true);
        QSignalSpy spy(chart.get(), SIGNAL(needParentWidthResize(int)));
        const QImage shot = render(*chart);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 700);
        if (lineEnd < 0) {
            QCOMPARE(shot.pixelColor(400, 40), kWhite);
        } else {
            QCOMPARE(shot.pixelColor(lineEnd, 40), kRed);
            QCOMPARE(shot.pixelColor(lineEnd + 1, 40), kWhite);
        }
        // Members without data draw their flat grey bars only, and only with thresholds.
        for (int i = 0; i < members; ++i)
            QCOMPARE(shot.pixelColor(152 + i * 54, 88), withThresholds ? kGrey : kWhite);
    }
}

void TestCharts::zeroEmergencyThresholdsStayInBounds()
{
    // Zero emergency thresholds make every ratio infinite or undefined: the picture stays
    // inside the chart, bars at their cap and the warning lines out of sight.
    Group g;
    g.thresholds = {0.0, 0.0, 0.0, 0.0, 1.2, 1.2};
    g.add(13.1, 25.1);
    g.add(12.9, 24.9);
    g.add(13.0, 25.0);
    g.evaluate();
    for (int kind : {int(Volt), int(Temp)}) {
        auto chart = makeChart(kind);
        chart->setGroup(&g.group);
        chart->setThresholds(&g.thresholds);
        chart->setRunning(true);
        const QImage shot = render(*chart);
        QCOMPARE(shot.pixelColor(400, 40), kRed);
        QCOMPARE(shot.pixelColor(400, 140), kRed);
        // Both the rise and the fall draw 75 pixels; the warning lines are off the chart.
        const int x = 152 + 54 / 2;
        QVERIFY(shot.pixelColor(152, 16) != kWhite);
        QCOMPARE(shot.pixelColor(152, 15), kWhite);
        QVERIFY(shot.pixelColor(x + 54, 163) != kWhite);
        QCOMPARE(shot.pixelColor(x + 54, 164), kWhite);
    }
}

void TestCharts::paintingRefreshesGroupCaption()
{
    Group g;
    g.add(13.0, 24.0);
    QRadioButton button;
    g.group.setButton(&button);
    g.group.setIdle(false);
    g.add(13.5, 25.0);
    const QString stale = button.text();
    QCOMPARE(stale, QString("Группа 1 (Ucp=0,00 B, Tcp=0,0 °C)"));
    auto volt = makeChart(Volt);
    volt->setGroup(&g.group);
    volt->setThresholds(&g.thresholds);
    render(*volt);
    QCOMPARE(button.text(), QString("Группа 1 (Ucp=13,25 B, Tcp=0,0 °C)"));
    auto temp = makeChart(Temp);
    temp->setGroup(&g.group);
    temp->setThresholds(&g.thresholds);
    render(*temp);
    QCOMPARE(button.text(), QString("Группа 1 (Ucp=13,25 B, Tcp=24,5 °C)"));
}

QTEST_MAIN(TestCharts)
#include "tst_charts.moc"
