// The battery tile, checked on rendered pixels where the picture matters.
#include "config/ProgramMode.h"
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QImageReader>
#include <QLabel>
#include <QScopedValueRollback>
#include <QtTest>

namespace {
// A body pixel below both value labels: what it shows is the picture alone, drawn 5 pixels to the right.
const QPoint kBody(40, 57);
} // namespace

// The tool tip as the operator sees it: asked for by hovering.
QString tipOf(MKPWidget& tile)
{
    QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1), tile.mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(&tile, &hover);
    return tile.toolTip();
}

class TestTile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { MKPWidget::loadImages(); }
    void animationsAreFullSizeFrames()
    {
        // A partial frame over "restore to previous" shows black corners.
        for (const QString name : {"Batt_red_gif.gif", "Batt_yellow_gif.gif"}) {
            QImageReader reader(":/new/prefix1/" + name);
            QCOMPARE(reader.imageCount(), 6);
            for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read())
                QVERIFY(frame.size() == QSize(70, 60) && frame.pixelColor(0, 30).lightness() > 240);
        }
    }
    void pictureByState_data()
    {
        QTest::addColumn<int>("group"); // -1: none
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<bool>("hideUngrouped");
        QTest::addColumn<int>("picture");
        QTest::addColumn<QString>("file"); // empty: the background, -: not compared
        QTest::addColumn<bool>("lost");    // communication lost, confirmed as the alarm
        using P = MKPWidget::Picture;
        QTest::newRow("no data") << 3 << 0 << false << false << int(P::Grey) << "gray" << false;
        QTest::newRow("normal") << 3 << 1 << false << false << int(P::Green) << "green" << false;
        QTest::newRow("warning confirmed") << 3 << 2 << true << false << int(P::Yellow) << "yellow" << false;
        QTest::newRow("emergency confirmed") << 3 << 3 << true << false << int(P::Red) << "red" << false;
        QTest::newRow("warn pulses") << 3 << 2 << false << false << int(P::YellowAnimation) << "-" << false;
        QTest::newRow("emergency pulses") << 3 << 3 << false << false << int(P::RedAnimation) << "-" << false;
        QTest::newRow("group 0: no alarm") << 0 << 3 << false << false << int(P::Green) << "green" << false;
        QTest::newRow("no group: no alarm") << -1 << 2 << false << false << int(P::Green) << "green" << false;
        QTest::newRow("ungrouped hidden") << 0 << 1 << false << true << int(P::None) << "" << false;
        QTest::newRow("lost pulses") << 3 << 0 << false << false << int(P::NoLinkAnimation) << "-" << true;
        QTest::newRow("link lost, confirmed") << 3 << 0 << true << false << int(P::NoLink) << "gray" << true;
        QTest::newRow("ungrouped, lost") << 0 << 0 << false << false << int(P::Grey) << "gray" << true;
        QTest::newRow("grouped never hidden") << 3 << 1 << false << true << int(P::Green) << "green" << false;
    }
    void pictureByState()
    {
        QFETCH(int, group);
        QFETCH(int, state);
        QFETCH(bool, confirmed);
        QFETCH(bool, hideUngrouped);
        QFETCH(int, picture);
        QFETCH(QString, file);
        QFETCH(bool, lost);
        QScopedValueRollback<bool> mode(modbusMode, true);
        BatteryGroup g(group);
        Battery battery(7, 0, 7);
        MKPWidget tile;
        battery.setWidget(&tile);
        battery.setGroup(group < 0 ? nullptr : &g);
        battery.setState(state);
        battery.setConfirmed(confirmed);
        tile.setHideIfUngrouped(hideUngrouped);
        tile.setCommLoss(lost, confirmed);
        QCOMPARE(int(tile.currentPicture()), picture);
        if (file != "-") { // an animation may advance between two reads; a lost link has a blue frame
            const QImage shown = tile.grab().toImage();
            QCOMPARE(shown.pixelColor(2, 30) == QColor(30, 80, 220), lost && group > 0);
            const QImage png =
                QImage(":/new/prefix1/Batt_" + file + ".png").convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(shown.pixelColor(kBody), file.isEmpty() ? tile.palette().color(QPalette::Window)
                                                             : png.pixelColor(kBody - QPoint(5, 0)));
        }
        // Hidden, the tile keeps only its address; the decision is taken when it paints.
        QCOMPARE(tile.voltageLabel()->isHidden(), hideUngrouped && group <= 0);
        QVERIFY(!tile.addressLabel()->isHidden());
    }
    void textsFollowTheBattery()
    {
        QScopedValueRollback<bool> mode(modbusMode, false);
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
        QCOMPARE(tipOf(tile), "Группа: 2\nМСД:МКП - 3:5\n" + none);
        b.setVoltage(12.0);
        b.setTemperature(26.5);
        a.setVoltage(-0.125);
        a.setTemperature(-5.05);
        QCOMPARE(tile.voltageLabel()->text() + tile.temperatureLabel()->text(), QString("-0,12 B-5,0 °C"));
        a.setTemperature(23.5);
        a.setVoltage(12.24);
        group.recalculate(); // means 12.12 V and 25.0 °C
        a.updateState();
        QCOMPARE(tipOf(tile), QString("Группа: 2\nМСД:МКП - 3:5\nНапр. откл.: 0,12 B\nТемп. откл.: -1,5 °C"));
        a.setGroup(nullptr);
        QCOMPARE(tipOf(tile), "Группа: Нет группы\nМСД:МКП - 3:5\n" + none);
    }
};

QTEST_MAIN(TestTile)
#include "tst_tile.moc"
