// The deviations page: group containers, the content widget with its trailing spacer, the
// scroll area that widens for the widest group, and the page as the main window builds it.
#include "../common/WindowInFolder.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "config/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/DerivContainerWidget.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/MKPGroupTemp.h"
#include "widgets/MKPGroupVolt.h"
#include "widgets/ResizableScrollArea.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
// The charts paint when the event loop comes round; their width wishes go out then.
void paintCharts(GroupContainerWidget& c)
{
    c.repaintCharts();
    QApplication::processEvents();
}
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A scroll area, laid out 900 wide, with containers for groups 1..6 that have no group: their
// charts wish nothing, the test drives the chain alone.
struct Page
{
    QWidget window;
    ResizableScrollArea* area = new ResizableScrollArea(&window);
    QList<GroupContainerWidget*> containers;

    Page()
    {
        auto* outer = new QVBoxLayout(&window);
        outer->setContentsMargins(0, 0, 0, 0);
        outer->addWidget(area);
        window.resize(900, 600);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("page not exposed");
        settle();
        area->setContentLayout(new QVBoxLayout());
        for (int k = 1; k <= 6; ++k) {
            containers << new GroupContainerWidget();
            area->addGroupContainer(containers.last(), k);
        }
        area->addTrailingSpacer();
    }
    void wish(int width, int group) { emit containers[group - 1]->needResize(width, group); }
    QWidget* content() const { return area->widget(); }
};

// Batteries 0..(count - 1) in group 1, then one battery each in groups 2..6.
QByteArray settingsWithLargeGroup(int count)
{
    QByteArray xml = "<!DOCTYPE settings>\n<settings>\n";
    for (int id = 0; id < count + 5; ++id) {
        const int group = id < count ? 1 : id - count + 2;
        xml += QStringLiteral("<group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                   .arg(id / 8)
                   .arg(id % 8)
                   .arg(group)
                   .toUtf8();
    }
    return xml + "</settings>\n";
}
} // namespace

class TestDerivPage : public QObject
{
    Q_OBJECT
private slots:
    void containerForwardsChangedWidthsOnce()
    {
        AlarmThresholds thresholds;
        BatteryGroup group(3);
        std::vector<std::unique_ptr<Battery>> batteries;
        GroupContainerWidget c;
        c.setThresholds(&thresholds);
        QSignalSpy spy(&c, SIGNAL(needResize(int, int)));
        QSignalSpy chartSpy(c.voltChart(), SIGNAL(needParentWidthResize(int)));
        c.show();
        QVERIFY(QTest::qWaitForWindowExposed(&c));
        // Without a group the charts' wishes go nowhere.
        paintCharts(c);
        QVERIFY(chartSpy.count() >= 1);
        QCOMPARE(spy.count(), 0);
        // Both charts wish 700 on every paint; the container passes it on once.
        c.setGroup(&group);
        for (int i = 0; i < 3; ++i)
            paintCharts(c);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), (QList<QVariant>{700, 3}));
        // Ten members running: each chart needs 790.
        for (int i = 0; i < 10; ++i) {
            batteries.push_back(std::make_unique<Battery>(i, 0, i % 8));
            batteries.back()->setThresholds(&thresholds);
            group.addBattery(batteries.back().get());
        }
        c.setRunning(true);
        QVERIFY(c.voltChart()->isRunning() && c.tempChart()->isRunning());
        paintCharts(c);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1), (QList<QVariant>{790, 3}));
    }
    void resizeChain_data()
    {
        QTest::addColumn<QVector<QPoint>>("wishes"); // (width, group)
        QTest::addColumn<int>("areaWidthAtOnce");    // right after the last wish
        QTest::addColumn<int>("minimumHintWidth");   // -1: no hint yet
        // All groups start at the containers' 762; the area is 900 wide.
        QVector<QPoint> all700;
        for (int g = 1; g <= 6; ++g)
            all700 << QPoint(700, g);
        QTest::newRow("one group wishes 1554") << QVector<QPoint>{{1554, 3}} << 1554 << 1554;
        QTest::newRow("all 700: area keeps its base width") << all700 << 900 << 900;
        QTest::newRow("1554 then back to 700: base width again")
            << (all700 + QVector<QPoint>{{1554, 3}, {700, 3}}) << 900 << 900;
        QTest::newRow("widest stays while another shrinks")
            << (all700 + QVector<QPoint>{{1554, 3}, {1200, 5}, {700, 5}}) << 1554 << 1554;
        QTest::newRow("group 9 ignored") << QVector<QPoint>{{2000, 9}} << 900 << -1;
        QTest::newRow("negative group ignored") << QVector<QPoint>{{2000, -1}} << 900 << -1;
        QTest::newRow("same width as stored ignored") << QVector<QPoint>{{762, 2}} << 900 << -1;
    }
    void resizeChain()
    {
        QFETCH(QVector<QPoint>, wishes);
        QFETCH(int, areaWidthAtOnce);
        QFETCH(int, minimumHintWidth);
        Page page;
        QCOMPARE(page.area->baseWidth(), 900);
        QCOMPARE(page.area->groupWidths().size(), 7);
        for (int i = 0; i < wishes.size(); ++i) {
            const QPoint w = wishes[i];
            // Straight into the slot: group numbers no container has.
            QMetaObject::invokeMethod(page.area, "handleChildResizeNeed", Q_ARG(int, w.x()),
                                      Q_ARG(int, w.y()));
            if (i + 1 < wishes.size())
                settle();
        }
        QCOMPARE(page.area->width(), areaWidthAtOnce);
        QCOMPARE(page.area->contentWidget()->minimumSizeHint().width(), minimumHintWidth);
        settle();
        // The page's layout puts the area back; the content is at least as wide as the widest wish.
        QCOMPARE(page.area->width(), 900);
        const int contentWidth = page.content()->width();
        if (minimumHintWidth > page.area->viewport()->width()) {
            QCOMPARE(contentWidth, minimumHintWidth);
            QCOMPARE(page.area->horizontalScrollBar()->maximum(),
                     minimumHintWidth - page.area->viewport()->width());
        } else {
            QCOMPARE(contentWidth, page.area->viewport()->width());
            QCOMPARE(page.area->horizontalScrollBar()->maximum(), 0);
        }
    }
    void repeatedWishReachesAreaOnce()
    {
        Page page;
        page.wish(1554, 3);
        QCOMPARE(page.area->width(), 1554);
        settle();
        QCOMPARE(page.area->width(), 900);
        // The same width again: the area does not widen itself a second time.
        page.wish(1554, 3);
        QCOMPARE(page.area->width(), 900);
        QCOMPARE(page.content()->width(), 1554);
    }
    void trailingSpacer_data()
    {
        // A scroll area learns of resizes through its viewport: the height is the visible part's.
        QTest::addColumn<int>("areaHeight");
        QTest::addColumn<int>("spacerHeight");
        QTest::newRow("600 high") << 600 << 220;
        QTest::newRow("300 high") << 300 << 0;
        QTest::newRow("380 high") << 380 << 0;
        QTest::newRow("381 high") << 381 << 1;
    }
    void trailingSpacer()
    {
        QFETCH(int, areaHeight);
        QFETCH(int, spacerHeight);
        ResizableScrollArea area;
        area.setContentLayout(new QVBoxLayout());
        auto* first = new GroupContainerWidget();
        auto* last = new GroupContainerWidget();
        last->setFixedHeight(380);
        area.addGroupContainer(first, 1);
        area.addGroupContainer(last, 2);
        DerivContainerWidget* content = area.contentWidget();
        QVERIFY(!content->trailingSpacer());
        area.addTrailingSpacer();
        QSpacerItem* spacer = content->trailingSpacer();
        QVERIFY(spacer);
        QCOMPARE(content->layout()->itemAt(2)->spacerItem(), spacer);
        QCOMPARE(spacer->sizeHint(), QSize(50, 0));
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

        QSignalSpy resized(&area, SIGNAL(resized(QSize)));
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        const int frame = 2 * area.frameWidth();
        area.resize(500, areaHeight + frame);
        settle();
        QCOMPARE(area.viewport()->height(), areaHeight);
        QVERIFY(resized.count() >= 1);
        QCOMPARE(resized.last().at(0).toSize(), area.viewport()->size());
        QCOMPARE(last->height(), 380);
        QCOMPARE(spacer->sizeHint().height(), spacerHeight);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    }
    void mainWindowDeviationPage()
    {
        WindowInFolder w(settingsWithLargeGroup(100));
        MainWindowForm* ui = w.window->form();
        ResizableScrollArea* area = ui->deriv_container_scroll;
        QCOMPARE(area->objectName(), QString("deriv_container_scroll"));
        QCOMPARE(ui->stacked_widget->indexOf(area), 1);
        QCOMPARE(area->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        const QList<GroupContainerWidget*>& containers = w.window->deviationContainers();
        QCOMPARE(containers.size(), 6);
        QLayout* layout = area->contentLayout();
        QCOMPARE(layout->count(), 7);
        for (int k = 1; k <= 6; ++k) {
            GroupContainerWidget* c = containers[k - 1];
            QCOMPARE(c->titleLabel()->text(), QStringLiteral("Группа %1").arg(k));
            QCOMPARE(c->group(), w.window->batteryGroups()[k]);
            QCOMPARE(c->voltChart()->thresholds(), &w.window->thresholdRecord());
            QCOMPARE(layout->itemAt(k - 1)->widget(), static_cast<QWidget*>(c));
        }
        QCOMPARE(layout->itemAt(6)->spacerItem(), area->contentWidget()->trailingSpacer());
        QCOMPARE(area->groupWidths().size(), 7);

        // Group 1 has 100 batteries: running, the page widens to the 1654 its charts ask for.
        for (const QList<Battery*>& row : w.window->rows())
            for (Battery* b : row)
                b->setVoltage(13.0 + 0.02 * (b->id() % 5));
        for (const QList<Battery*>& row : w.window->rows())
            for (Battery* b : row)
                if (b->groupNumber() != 0)
                    b->updateState();
        w.window->resize(1166, 700);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        w.window->setDeviationChartsRunning(true);
        QVERIFY(containers.last()->voltChart()->isRunning() && containers.last()->tempChart()->isRunning());
        ui->stacked_widget->setCurrentIndex(1);
        settle();
        w.window->repaintDeviationCharts();
        settle();
        QCOMPARE(area->groupWidths().at(1), 1654);
        QCOMPARE(area->contentWidget()->width(), 1654);
        QScrollBar* sideways = area->horizontalScrollBar();
        QCOMPARE(sideways->maximum(), 1654 - area->viewport()->width());
        // The content is tall enough to bring the last group to the top of the view.
        QVERIFY(area->verticalScrollBar()->maximum() >= containers.last()->y());
        // Scrolled to the end: the 100th bar (rising 2 pixels) in its wide slot.
        sideways->setValue(sideways->maximum());
        settle();
        const QImage shot = containers.first()->voltChart()->grab().toImage();
        QCOMPARE(shot.pixelColor(1545, 89), QColor(37, 197, 12));
        QCOMPARE(shot.pixelColor(1539, 89), QColor(215, 215, 215));
        // Choosing a narrow group shows it from its left edge, not the blank right of group 1.
        QTest::mouseClick(ui->rb_2_group, Qt::LeftButton, {}, QPoint(8, ui->rb_2_group->height() / 2));
        QVERIFY(area->verticalScrollBar()->value() > 0);
        QCOMPARE(sideways->value(), 0);
        QTest::mouseClick(ui->rb_1_group, Qt::LeftButton, {}, QPoint(8, ui->rb_1_group->height() / 2));

        // Stopped: every chart wishes 700 again and the sideways scrolling goes.
        w.window->setDeviationChartsRunning(false);
        settle();
        QCOMPARE(area->contentWidget()->width(), area->viewport()->width());
        QCOMPARE(sideways->maximum(), 0);
    }
};

QTEST_MAIN(TestDerivPage)
#include "tst_deriv_page.moc"
