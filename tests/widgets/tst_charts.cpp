// The deviation bar charts on rendered pixels, and the deviations page that widens for its widest chart.
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "config/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/GroupContainerWidget.h"
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
    Battery* add(double voltage = 13.0, double temperature = 25.0)
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
    QImage run(bool running = true)
    {
        for (auto& b : batteries)
            b->updateState();
        chart->setRunning(running);
        return chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Whether the box shows exactly the text drawn alone in the chart's font and colour.
    bool hasText(const QImage& shot, const QRect& box, int flags, const QString& text) const
    {
        QImage ref(shot.size(), QImage::Format_RGB32);
        ref.fill(kWhite);
        QPainter p(&ref);
        p.setFont(chart->textFont());
        p.setPen(chart->palette().color(chart->foregroundRole()));
        p.drawText(box, flags, text);
        int ink = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) {
                if (shot.pixel(x, y) != ref.pixel(x, y))
                    return false;
                ink += shot.pixel(x, y) != kWhite.rgb();
            }
        return ink >= 8; // else no font is installed
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
        QTest::addColumn<int>("height");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        QTest::addColumn<int>("numberTop");
        // Two members at mean ± deviation; the first one's bar is checked. A bar of h pixels covers rows
        // 91 − h to 90 upward and 89 to 88 + h downward; its number sits above a rising bar, below a
        // falling one where that fits, else on rows 76 to 85 (-1: crossed by a line).
        QTest::newRow("volt at the mean") << true << 0.0 << 300 << kGreen << 89 << 89 << 93;
        QTest::newRow("volt small rise") << true << 0.5 << 300 << kGreen << 71 << 90 << 58; // 19.2 → 20
        QTest::newRow("volt small fall") << true << -0.5 << 300 << kGreen << 89 << 108 << 112;
        QTest::newRow("volt warning rise") << true << 1.25 << 300 << kOrange << 42 << 90 << 29;
        QTest::newRow("volt twice emergency rise") << true << 2.6 << 300 << kRed << 16 << 90 << 3;
        QTest::newRow("volt fall of 57 just fits") << true << -1.469 << 160 << kRed << 89 << 145 << 149;
        QTest::newRow("volt fall of 58 does not") << true << -1.495 << 160 << kRed << 89 << 146 << 76;
        QTest::newRow("temp small rise") << false << 2.1 << 300 << kGreen << 69 << 90 << 56; // 21 → 22
        QTest::newRow("temp warning fall") << false << -4.5 << 300 << kOrange << 89 << 134 << -1;
        QTest::newRow("temp twice emergency fall") << false << -10.0 << 300 << kRed << 89 << 163 << 167;
    }
    void bars()
    {
        QFETCH(bool, volt);
        QFETCH(double, deviation);
        QFETCH(int, height);
        QFETCH(QColor, colour);
        QFETCH(int, top);
        QFETCH(int, bottom);
        QFETCH(int, numberTop);
        const double du = volt ? deviation : 0.0, dt = volt ? 0.0 : deviation;
        Chart c(volt);
        c.add(13.0 + du, 25.0 + dt);
        c.add(13.0 - du, 25.0 - dt);
        c.chart->setFixedHeight(height);
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
        QVERIFY(numberTop < 0 || c.hasText(shot, QRect(150, numberTop, 54, 10), Qt::AlignCenter, "1"));
    }

    void noBarsBeforeStartNorForNoData()
    {
        Chart c(true);
        c.add(14.5);
        c.add(11.5); // 1.5 V from the mean: an emergency
        c.add(99.0, 99.0)->setNoData(true);
        c.chart->resize(900, 300);
        QImage shot = c.run(false);
        QVERIFY(shot.pixelColor(176, 60) == kWhite && rowHas(shot, 90, 100, 700, kGrey));
        shot = c.run();
        QVERIFY(rowHas(shot, 60, 152, 201, kRed) && rowHas(shot, 120, 206, 255, kRed));
        // Third slot from x 258: a flat grey bar on rows 88 to 91, its reading out of the mean.
        for (int y = 87; y <= 92; ++y)
            QCOMPARE(rowHas(shot, y, 260, 309, kGrey), y >= 88 && y <= 91);
        QVERIFY(c.hasText(shot, QRect(258, 75, 54, 10), Qt::AlignCenter, "3"));
        QVERIFY(c.hasText(shot, QRect(60, 85, 30, 10), Qt::AlignRight | Qt::AlignVCenter, "13,00"));
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
            QVERIFY(c.hasText(shot, QRect(1536, 93, 18, 10), Qt::AlignCenter, "100"));
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
        const QList<GroupContainerWidget*>& containers = w.window->deviationContainers();
        for (const QList<Battery*>& row : w.window->rows())
            for (Battery* b : row)
                b->setVoltage(13.0 + 0.02 * (b->id() % 5));
        for (Battery* b : w.window->batteryGroups()[1]->batteries())
            b->updateState();
        w.window->resize(1166, 700);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        w.window->setDeviationChartsRunning(true);
        ui->stacked_widget->setCurrentIndex(1);
        w.window->repaintDeviationCharts();
        QScrollBar* sideways = area->horizontalScrollBar();
        QTRY_COMPARE(area->widget()->width(), 1654);
        QTRY_COMPARE(sideways->maximum(), 1654 - area->viewport()->width());
        // The content is tall enough to bring the last group to the top of the view.
        QVERIFY(area->verticalScrollBar()->maximum() >= containers.last()->y());
        // Choosing a narrow group shows it from its left edge, not the blank right of group 1.
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
