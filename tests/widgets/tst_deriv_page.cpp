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
#include <QFontDatabase>
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

// A scroll area in a page of the given size, with containers for groups 1..6. The main
// window sets the content up before anything is laid out, so the base width is the area's
// first width (400); set up after the page is shown, it is the laid-out width.
struct Page
{
    enum Setup
    {
        BeforeShow,
        AfterShow
    };
    // Without groups the containers' charts wish nothing; the test drives the chain alone.
    enum Charts
    {
        Quiet,
        Grouped
    };
    QWidget window;
    ResizableScrollArea* area = nullptr;
    QVBoxLayout* layout = nullptr;
    std::vector<std::unique_ptr<BatteryGroup>> groups;
    QList<GroupContainerWidget*> containers;

    Page(const QSize& size, Setup setup, Charts charts)
    {
        auto* outer = new QVBoxLayout(&window);
        outer->setContentsMargins(0, 0, 0, 0);
        area = new ResizableScrollArea(&window);
        outer->addWidget(area);
        window.resize(size);
        if (setup == AfterShow)
            show();
        layout = new QVBoxLayout();
        area->setContentLayout(layout);
        for (int k = 0; k <= 6; ++k)
            groups.push_back(std::make_unique<BatteryGroup>(k));
        for (int k = 1; k <= 6; ++k) {
            auto* c = new GroupContainerWidget();
            if (charts == Grouped)
                c->setGroup(groups[k].get());
            containers << c;
            area->addGroupContainer(c, k);
        }
        area->addTrailingSpacer();
        if (setup == BeforeShow)
            show();
    }
    void show()
    {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("page not exposed");
        settle();
    }
    void wish(int width, int group) { emit containers[group - 1]->needResize(width, group); }
    QWidget* content() const { return area->widget(); }
};

// Runs the main window in a fresh working directory holding the given settings file.

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
    void initTestCase();
    void containerLayout();
    void containerForwardsChangedWidthsOnce();
    void areaSetup();
    void resizeChain_data();
    void resizeChain();
    void repeatedWishReachesAreaOnce();
    void trailingSpacer_data();
    void trailingSpacer();
    void mainWindowDeviationPage();
};

void TestDerivPage::initTestCase()
{
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: the page would render without texts");
}

void TestDerivPage::containerLayout()
{
    GroupContainerWidget c;
    QCOMPARE(c.objectName(), QString("GroupContainerWidget"));
    QCOMPARE(c.size(), QSize(762, 380));
    QCOMPARE(c.minimumSize(), QSize(400, 380));
    QCOMPARE(c.maximumSize(), QSize(16777215, 420));
    QCOMPARE(c.lastWidth(), 762);
    QVERIFY(c.titleLabel()->text().isEmpty());
    c.setTitle("Группа 4");
    QCOMPARE(c.titleLabel()->text(), QString("Группа 4"));
    QCOMPARE(c.titleLabel()->font().pointSize(), 14);
    QVERIFY(c.titleLabel()->font().bold());
    // Title line, then the voltage chart above the temperature chart.
    auto* inner = qobject_cast<QVBoxLayout*>(c.layout()->itemAt(0)->layout());
    QVERIFY(inner);
    QCOMPARE(inner->count(), 3);
    QCOMPARE(inner->itemAt(0)->layout()->itemAt(0)->sizeHint(), QSize(100, 20));
    QCOMPARE(inner->itemAt(0)->layout()->itemAt(1)->widget(), static_cast<QWidget*>(c.titleLabel()));
    QCOMPARE(inner->itemAt(1)->widget(), static_cast<QWidget*>(c.voltChart()));
    QCOMPARE(inner->itemAt(2)->widget(), static_cast<QWidget*>(c.tempChart()));
    QCOMPARE(c.tempChart()->minimumSize(), QSize(400, 160));
    QCOMPARE(c.tempChart()->maximumSize(), QSize(16777215, 150));
    // Laid out: the title 100 pixels in, the charts at their minimum height.
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    QVERIFY(c.titleLabel()->x() >= 100);
    QCOMPARE(c.voltChart()->height(), 160);
    QCOMPARE(c.tempChart()->y(), c.voltChart()->geometry().bottom() + 1 + c.layout()->spacing());
}

void TestDerivPage::containerForwardsChangedWidthsOnce()
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

void TestDerivPage::areaSetup()
{
    ResizableScrollArea area;
    QCOMPARE(area.objectName(), QString("ResizableScrollArea"));
    QCOMPARE(area.size(), QSize(400, 300));
    QCOMPARE(area.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(area.widget()->objectName(), QString("scrollAreaWidgetContents"));
    DerivContainerWidget* content = area.contentWidget();
    QCOMPARE(content->styleSheet(), QString("background-color: rgb(255, 255, 255)"));
    QVERIFY(!content->minimumSizeHint().isValid());

    // With a layout the content replaces the placeholder; later layouts are refused.
    QPointer<QWidget> placeholder = area.widget();
    auto* layout = new QVBoxLayout();
    area.setContentLayout(layout);
    QCOMPARE(area.widget(), static_cast<QWidget*>(content));
    QVERIFY(placeholder.isNull());
    QCOMPARE(content->layout(), static_cast<QLayout*>(layout));
    QCOMPARE(area.baseWidth(), 400);
    QVBoxLayout second;
    content->setContentLayout(&second);
    QCOMPARE(content->layout(), static_cast<QLayout*>(layout));
    ResizableScrollArea other;
    content->watchResizes(&other);
    QCOMPARE(content->resizeSource(), &area);

    // Widths by group number; a negative number or no container changes nothing.
    auto* c4 = new GroupContainerWidget();
    area.addGroupContainer(c4, 4);
    QCOMPARE(area.groupWidths(), (QVector<int>{0, 0, 0, 0, 762}));
    QCOMPARE(c4->parentWidget(), static_cast<QWidget*>(content));
    area.addGroupContainer(new GroupContainerWidget(), 2);
    area.addGroupContainer(new GroupContainerWidget(), -1);
    area.addGroupContainer(nullptr, 5);
    QCOMPARE(area.groupWidths(), (QVector<int>{0, 0, 762, 0, 762}));
    area.addTrailingSpacer();
    area.addTrailingSpacer();
    QCOMPARE(layout->count(), 4);
    QCOMPARE(layout->itemAt(3)->spacerItem(), content->trailingSpacer());
    QCOMPARE(content->trailingSpacer()->sizeHint(), QSize(50, 0));

    // Without a layout nothing can be added.
    DerivContainerWidget bare;
    QWidget loose;
    bare.addContainer(&loose);
    bare.addTrailingSpacer();
    QVERIFY(!bare.lastContainer() && !bare.trailingSpacer());
}

void TestDerivPage::resizeChain_data()
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

void TestDerivPage::resizeChain()
{
    QFETCH(QVector<QPoint>, wishes);
    QFETCH(int, areaWidthAtOnce);
    QFETCH(int, minimumHintWidth);
    Page page(QSize(900, 600), Page::AfterShow, Page::Quiet);
    QCOMPARE(page.area->baseWidth(), 900);
    QCOMPARE(page.area->groupWidths().size(), 7);
    for (int i = 0; i < wishes.size(); ++i) {
        const QPoint w = wishes[i];
        // Straight into the slot: group numbers no container has.
        QMetaObject::invokeMethod(page.area, "handleChildResizeNeed", Q_ARG(int, w.x()), Q_ARG(int, w.y()));
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

void TestDerivPage::repeatedWishReachesAreaOnce()
{
    Page page(QSize(900, 600), Page::AfterShow, Page::Quiet);
    page.wish(1554, 3);
    QCOMPARE(page.area->width(), 1554);
    settle();
    QCOMPARE(page.area->width(), 900);
    // The same width again: the area does not widen itself a second time.
    page.wish(1554, 3);
    QCOMPARE(page.area->width(), 900);
    QCOMPARE(page.content()->width(), 1554);
}

void TestDerivPage::trailingSpacer_data()
{
    // A scroll area learns of resizes through its viewport: the height is the visible part's.
    QTest::addColumn<int>("areaHeight");
    QTest::addColumn<int>("spacerHeight");
    QTest::newRow("600 high") << 600 << 220;
    QTest::newRow("300 high") << 300 << 0;
    QTest::newRow("380 high") << 380 << 0;
    QTest::newRow("381 high") << 381 << 1;
}

void TestDerivPage::trailingSpacer()
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

void TestDerivPage::mainWindowDeviationPage()
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

QTEST_MAIN(TestDerivPage)
#include "tst_deriv_page.moc"
