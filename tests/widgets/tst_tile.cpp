// The battery tile, checked on rendered pixels where the picture matters.
#include "app/ProgramMode.h"
#include "config/AlarmThresholds.h"
#include "config/GroupsSettingsWindow.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QtTest>

namespace {
// A body pixel below both value labels: what it shows is the picture alone.
const QPoint kBody(40, 57);
QColor shown(MKPWidget& tile)
{
    return tile.grab().toImage().pixelColor(kBody);
}
QColor picture(const QString& name)
{
    return QImage(":/new/prefix1/" + name)
        .convertToFormat(QImage::Format_ARGB32)
        .pixelColor(kBody - QPoint(5, 0));
}
struct ModeGuard
{
    bool saved = modbusMode;
    explicit ModeGuard(bool on) { modbusMode = on; }
    ~ModeGuard() { modbusMode = saved; }
};
} // namespace

class TestTile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { MKPWidget::loadImages(); }

    void animations()
    {
        // Six full-size frames fading out, looping for ever: a partial frame shows black corners.
        for (const QString name : {"Batt_red_gif.gif", "Batt_yellow_gif.gif"}) {
            QFile f(":/new/prefix1/" + name);
            QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll().contains("NETSCAPE2.0\x03\x01\x00\x00"));
            QImageReader reader(":/new/prefix1/" + name);
            QCOMPARE(reader.imageCount(), 6);
            int saturation = 256;
            for (int i = 0; i < 6; ++i) {
                const QImage frame = reader.read();
                QCOMPARE(frame.size(), QSize(70, 60));
                QVERIFY(frame.pixelColor(0, 30).lightness() > 240);
                QVERIFY(frame.pixelColor(kBody - QPoint(5, 0)).saturation() < saturation);
                saturation = frame.pixelColor(kBody - QPoint(5, 0)).saturation();
            }
        }
    }

    void pictureByState_data()
    {
        QTest::addColumn<int>("group"); // -1: none
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<bool>("hideUngrouped");
        QTest::addColumn<int>("picture");
        QTest::addColumn<QString>("file"); // empty: the background
        using P = MKPWidget::Picture;
        QTest::newRow("no data") << 3 << 0 << false << false << int(P::Grey) << "Batt_gray.png";
        QTest::newRow("normal") << 3 << 1 << false << false << int(P::Green) << "Batt_green.png";
        QTest::newRow("warning confirmed") << 3 << 2 << true << false << int(P::Yellow) << "Batt_yellow.png";
        QTest::newRow("emergency confirmed") << 3 << 3 << true << false << int(P::Red) << "Batt_red.png";
        QTest::newRow("warning pulses")
            << 3 << 2 << false << false << int(P::YellowAnimation) << "Batt_yellow_gif.gif";
        QTest::newRow("emergency pulses")
            << 3 << 3 << false << false << int(P::RedAnimation) << "Batt_red_gif.gif";
        QTest::newRow("unknown state") << 3 << 7 << false << false << int(P::None) << "";
        QTest::newRow("group 0 never alarms")
            << 0 << 3 << false << false << int(P::Green) << "Batt_green.png";
        QTest::newRow("no group never alarms")
            << -1 << 2 << false << false << int(P::Green) << "Batt_green.png";
        QTest::newRow("ungrouped without data")
            << 0 << 0 << false << false << int(P::Grey) << "Batt_gray.png";
        QTest::newRow("ungrouped hidden") << 0 << 1 << false << true << int(P::None) << "";
        QTest::newRow("grouped never hidden") << 3 << 1 << false << true << int(P::Green) << "Batt_green.png";
    }
    void pictureByState()
    {
        QFETCH(int, group);
        QFETCH(int, state);
        QFETCH(bool, confirmed);
        QFETCH(bool, hideUngrouped);
        QFETCH(int, picture);
        QFETCH(QString, file);
        ModeGuard mode(true);
        BatteryGroup g(group);
        MKPWidget tile;
        tile.setGroup(group < 0 ? nullptr : &g);
        tile.setState(state);
        tile.setConfirmed(confirmed);
        tile.setHideIfUngrouped(hideUngrouped);
        QCOMPARE(int(tile.currentPicture()), picture);
        const QColor colour = shown(tile);
        if (file.endsWith(".gif")) {
            QMovie* movie = file.contains("red") ? MKPWidget::redAnimation() : MKPWidget::yellowAnimation();
            // The animation may advance between the two reads: the same hue family is enough.
            QCOMPARE(colour.hue() / 20,
                     movie->currentPixmap().toImage().pixelColor(kBody - QPoint(5, 0)).hue() / 20);
        } else {
            QCOMPARE(colour, file.isEmpty() ? tile.palette().color(QPalette::Window) : ::picture(file));
        }
        // Hidden, the tile keeps only its address; the decision is taken when it paints.
        QCOMPARE(tile.voltageLabel()->isHidden(), hideUngrouped && group <= 0);
        QVERIFY(!tile.addressLabel()->isHidden());
    }

    void greyedAndFollowingTheMode()
    {
        ModeGuard native(false);
        BatteryGroup group(1);
        MKPWidget tile;
        tile.setGroup(&group);
        tile.setState(1);
        tile.setHighlighted(false);
        const QImage shot = tile.grab().toImage();
        QCOMPARE(shot.pixelColor(1, 62), QColor(165, 165, 165)); // background outside the picture
        const QColor green = picture("Batt_green.png"), dim = shot.pixelColor(kBody);
        auto blend = [](int p) { return qRound(0.4 * p + 0.6 * 165); };
        QVERIFY(qAbs(dim.red() - blend(green.red())) + qAbs(dim.green() - blend(green.green())) +
                    qAbs(dim.blue() - blend(green.blue())) <=
                6);
        tile.setHighlighted(true);
        QCOMPARE(shown(tile), green);
        tile.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tile));
        QVERIFY(tile.addressLabel()->isHidden());
        modbusMode = true;
        tile.repaint();
        QVERIFY(tile.addressLabel()->isVisible());
    }

    void textsFollowTheBattery()
    {
        ModeGuard native(false);
        AlarmThresholds thresholds;
        BatteryGroup group(2);
        Battery a(29, 3, 5), b(30, 3, 6);
        group.addBattery(&a);
        group.addBattery(&b);
        MKPWidget tile;
        a.setWidget(&tile);
        a.setThresholds(&thresholds);
        b.setThresholds(&thresholds);
        const QString none = "Напр. откл.: --,-- B\nТемп. откл.: --,- °C";
        QCOMPARE(tile.voltageLabel()->text(), QString("--,-- B"));
        QCOMPARE(tile.toolTip(), "Группа: 2\nМСД:МКП - 3:5\n" + none);
        b.setVoltage(12.0);
        b.setTemperature(26.5);
        a.setVoltage(-0.125);
        a.setTemperature(-5.05);
        QCOMPARE(tile.voltageLabel()->text(), QString("-0,12 B"));
        QCOMPARE(tile.temperatureLabel()->text(), QString("-5,0 °C"));
        a.updateState(); // a state does not rebuild the tool tip, the next reading does
        QCOMPARE(tile.state(), 3);
        a.setTemperature(23.5);
        a.setVoltage(12.24); // means 12.12 V and 25.0 °C
        QCOMPARE(tile.voltageLabel()->text(), QString("12,24 B"));
        QCOMPARE(tile.toolTip(),
                 QString("Группа: 2\nМСД:МКП - 3:5\nНапр. откл.: 0,12 B\nТемп. откл.: -1,5 °C"));
        a.setState(0);
        QCOMPARE(tile.temperatureLabel()->text(), QString("--,- °C"));
        a.setGroup(nullptr);
        QCOMPARE(tile.toolTip(), "Группа: Нет группы\nМСД:МКП - 3:5\n" + none);
    }

    void modbusToolTip_data()
    {
        QTest::addColumn<int>("groupNumber");
        QTest::addColumn<int>("battery");
        QTest::addColumn<bool>("withPage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("group 0") << 0 << 3 << true << "Без группы\n-";
        QTest::newRow("group 8") << 8 << 3 << true << "Группа: 8\n-";
        QTest::newRow("battery 128") << 2 << 128 << true << "Группа: 2\nадрес=17\n№ батареи=128";
        QTest::newRow("battery 129") << 2 << 129 << true << "Группа: 2\nадрес=17\n№ батареи=-";
        QTest::newRow("battery -1") << 2 << -1 << true << "Группа: 2\nадрес=17\n№ батареи=-";
        QTest::newRow("no settings page") << 2 << 0 << false << "Группа: 2\nадрес=-\n№ батареи=0";
    }
    void modbusToolTip()
    {
        QFETCH(int, groupNumber);
        QFETCH(int, battery);
        QFETCH(bool, withPage);
        QFETCH(QString, expected);
        ModeGuard modbus(true);
        std::unique_ptr<GroupsSettingsWindow> page(withPage ? new GroupsSettingsWindow : nullptr);
        GroupsSettingsWindow::setGroupModbusAddress(2, 17);
        AlarmThresholds thresholds;
        BatteryGroup group(groupNumber);
        MKPWidget tile;
        tile.setGroup(&group);
        tile.setBatteryNumber(battery);
        tile.setThresholds(&thresholds);
        QCOMPARE(tile.toolTip(), expected + "\nНапр. откл.: --,-- B\nТемп. откл.: --,- °C");
        tile.setGroup(nullptr); // without a group the last tip stays
        QCOMPARE(tile.toolTip(), expected + "\nНапр. откл.: --,-- B\nТемп. откл.: --,- °C");
    }

    void onlyPulsingTilesRepaintOnFrames()
    {
        struct Counting : MKPWidget
        {
            int paints = 0;
            void paintEvent(QPaintEvent* e) override { ++paints, MKPWidget::paintEvent(e); }
        };
        BatteryGroup group(1);
        Counting still, pulsing;
        for (Counting* t : {&still, &pulsing})
            t->setGroup(&group), t->show();
        still.setState(1);
        pulsing.setState(3);
        QVERIFY(QTest::qWaitForWindowExposed(&pulsing));
        QTest::qWait(50);
        still.paints = pulsing.paints = 0;
        QTest::qWait(800); // eight frames at Qt's 100 ms GIF pace
        QCOMPARE(still.paints, 0);
        QVERIFY2(pulsing.paints >= 3, qPrintable(QString::number(pulsing.paints)));
    }
};

QTEST_MAIN(TestTile)
#include "tst_tile.moc"
