// The deviation bar charts on rendered pixels, and the deviations page that widens for its widest chart.
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPGroupTemp.h"
#include "widgets/MKPGroupVolt.h"
#include "widgets/ResizableScrollArea.h"

#include <QtTest>
#include <QtWidgets>
#include <memory>
#include <vector>

namespace {
const QColor kWhite(255, 255, 255), kGrey(215, 215, 215), kGreen(37, 197, 12), kOrange(255, 171, 52),
    kRed(255, 75, 21);

// One chart over a group the test fills, painted on a white page.
struct Chart
{
    AlarmThresholds thresholds{5.0, 4.0, 1.3, 1.3, 1.2, 1.2};
    BatteryGroup group{1};
    std::vector<std::unique_ptr<Battery>> batteries;
    std::unique_ptr<DeviationChart> chart;

    explicit Chart(bool volt)
        : chart(volt ? static_cast<DeviationChart*>(new MKPGroupVolt) : new MKPGroupTemp)
    {
        chart->setStyleSheet(QStringLiteral("background-color: white"));
        chart->setGroup(&group);
        chart->setThresholds(&thresholds);
    }
    void add(double voltage = 13.0, double temperature = 25.0)
    {
        const int id = int(batteries.size());
        batteries.push_back(std::make_unique<Battery>(id, id / 8, id % 8));
        Battery* b = batteries.back().get();
        b->setThresholds(&thresholds);
        b->setVoltage(voltage);
        b->setTemperature(temperature);
        group.addBattery(b);
    }
    QImage run(bool running = true)
    {
        group.recalculate();
        for (auto& b : batteries)
            b->updateState();
        chart->setRunning(running);
        return chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

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
    void bars_data()
    {
        QTest::addColumn<bool>("volt");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        // Two members at mean ± deviation; the first one's bar is checked. A bar of h pixels covers rows
        // 91 − h to 90 upward and 89 to 88 + h downward, 75 at most.
        QTest::newRow("volt at the mean") << true << 0.0 << kGreen << 89 << 89;
        QTest::newRow("volt small rise") << true << 0.5 << kGreen << 71 << 90; // 19.2 → 20
        QTest::newRow("volt small fall") << true << -0.5 << kGreen << 89 << 108;
        QTest::newRow("volt warning rise") << true << 1.25 << kOrange << 42 << 90;
        QTest::newRow("volt twice emergency rise") << true << 2.6 << kRed << 16 << 90;
        QTest::newRow("temp small rise") << false << 2.1 << kGreen << 69 << 90; // 21 → 22
        QTest::newRow("temp warning fall") << false << -4.5 << kOrange << 89 << 134;
        QTest::newRow("temp twice emergency fall") << false << -10.0 << kRed << 89 << 163;
    }
    void bars()
    {
        QFETCH(bool, volt);
        QFETCH(double, deviation);
        QFETCH(QColor, colour);
        QFETCH(int, top);
        QFETCH(int, bottom);
        const double du = volt ? deviation : 0.0, dt = volt ? 0.0 : deviation;
        Chart c(volt);
        c.add(13.0 + du, 25.0 + dt);
        c.add(13.0 - du, 25.0 - dt);
        const QImage shot = c.run();
        // Two members in 700 pixels: bars 50 wide in slots of 54, the first from x 152.
        const QSet<int> thresholdRows = {40, 44, 50, 130, 136, 140};
        for (int y = top; y <= bottom; ++y)
            QVERIFY2(thresholdRows.contains(y) || rowHas(shot, y, 152, 201, colour),
                     qPrintable(QString::number(y)));
        QVERIFY(shot.pixelColor(176, top - 1) != colour && shot.pixelColor(151, top) != colour &&
                shot.pixelColor(202, top) != colour);
        QVERIFY(bottom + 1 == shot.height() || shot.pixelColor(176, bottom + 1) != colour);
        if (deviation != 0.0) // the mirrored member draws the other way
            QCOMPARE(shot.pixelColor(230, deviation > 0 ? 100 : 80), colour);
    }
    void widthWish_data()
    {
        QTest::addColumn<int>("members");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("chartWidth");
        QTest::addColumn<int>("wish"); // -1: none
        QTest::addColumn<int>("lineEnd");
        QTest::newRow("10 members") << 10 << true << 760 << 790 << 700;
        QTest::newRow("10 members, already 790 wide") << 10 << true << 790 << -1 << 700;
        QTest::newRow("10 members, before start") << 10 << false << 900 << 700 << 700;
        QTest::newRow("60 members: bars of 10") << 60 << true << 1000 << 1090 << 990;
        QTest::newRow("99 members") << 99 << true << 1700 << 1636 << 1536;
        QTest::newRow("100 members") << 100 << true << 1700 << 1654 << 1554;
    }
    void widthWish()
    {
        QFETCH(int, members);
        QFETCH(bool, running);
        QFETCH(int, chartWidth);
        QFETCH(int, wish);
        QFETCH(int, lineEnd);
        Chart c(members % 2);
        for (int i = 0; i < members; ++i)
            c.add();
        c.chart->resize(chartWidth, 300);
        QSignalSpy spy(c.chart.get(), SIGNAL(needParentWidthResize(int)));
        const QImage shot = c.run(running);
        QCOMPARE(spy.count(), wish < 0 ? 0 : 1);
        QCOMPARE(spy.value(0).value(0).toInt(), qMax(wish, 0));
        QVERIFY(shot.pixelColor(lineEnd, 140) == kRed && shot.pixelColor(lineEnd + 1, 140) == kWhite);
        if (members == 100) {
            // Bar 99 in a 14-pixel slot from 1522, bar 100 in an 18-pixel slot from 1536.
            QVERIFY(rowHas(shot, 89, 1524, 1533, kGreen) && rowHas(shot, 89, 1540, 1549, kGreen));
            QVERIFY(shot.pixelColor(1534, 89) == kGrey && shot.pixelColor(1539, 89) == kGrey);
        }
    }
    void pageWidensForTheWidestGroup()
    {
        // Group 1 holds 100 batteries, group 2 one.
        QString groups;
        for (int id = 0; id < 101; ++id)
            groups += QString::asprintf("<group_id msd=\"%d\" mkp=\"%d\">%d</group_id>", id / 8, id % 8,
                                        1 + id / 100);
        WindowInFolder w(settingsWith(groups.toUtf8()));
        MainWindowForm* ui = w.window->form();
        ResizableScrollArea* area = ui->deriv_container_scroll;
        w.window->resize(1166, 700);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        w.window->setDeviationChartsRunning(true);
        ui->stacked_widget->setCurrentIndex(1);
        w.window->repaintDeviationCharts();
        QScrollBar* sideways = area->horizontalScrollBar();
        QTRY_COMPARE(area->widget()->width(), 1654);
        QTRY_COMPARE(sideways->maximum(), 1654 - area->viewport()->width());
        // Scrolled to the end, choosing a narrow group shows it from its left edge.
        sideways->setValue(sideways->maximum());
        QTest::mouseClick(ui->rb_2_group, Qt::LeftButton, {}, QPoint(8, ui->rb_2_group->height() / 2));
        QVERIFY(area->verticalScrollBar()->value() > 0);
        QCOMPARE(sideways->value(), 0);
        // Stopped, back at group 1: every chart wishes 700 again and the sideways scrolling goes.
        QTest::mouseClick(ui->rb_1_group, Qt::LeftButton, {}, QPoint(8, ui->rb_1_group->height() / 2));
        w.window->setDeviationChartsRunning(false);
        QTRY_COMPARE(area->widget()->width(), area->viewport()->width());
        QTRY_COMPARE(sideways->maximum(), 0);
    }
};

QTEST_MAIN(TestCharts)
#include "tst_charts.moc"
