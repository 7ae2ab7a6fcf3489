// The battery tile, checked on rendered pixels where the picture matters.
#include "app/ProgramMode.h"
#include "config/AlarmThresholds.h"
#include "config/GroupsSettingsWindow.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QFontDatabase>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPainter>
#include <QtTest>

namespace {
// A body pixel below both value labels: what it shows is the picture alone.
const QPoint kBodyPixel(40, 57);

QImage picture(const char* name)
{
    return QImage(QStringLiteral(":/new/prefix1/") + QLatin1String(name))
        .convertToFormat(QImage::Format_ARGB32);
}

QColor bodyColour(MKPWidget& tile)
{
    return tile.grab().toImage().pixelColor(kBodyPixel);
}

QColor pictureColour(const char* name)
{
    return picture(name).pixelColor(kBodyPixel - QPoint(5, 0));
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
    void initTestCase();
    void picturesAreDistinct();
    void animationsAsDescribed_data();
    void animationsAsDescribed();
    void freshTile();
    void pictureByState_data();
    void pictureByState();
    void ungroupedNeverAlarms();
    void hiddenUngroupedKeepsAddressLabel();
    void greyedTile();
    void numbersWithComma_data();
    void numbersWithComma();
    void toolTipNative();
    void toolTipModbus_data();
    void toolTipModbus();
    void toolTipModbusWithoutGroupKeepsOld();
    void onlyPulsingTilesRepaintOnFrames();
};

void TestTile::initTestCase()
{
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: label texts would render blank");
    MKPWidget::loadImages();
    QVERIFY(MKPWidget::redAnimation()->isValid());
}

void TestTile::picturesAreDistinct()
{
    const char* names[] = {"Batt_gray.png", "Batt_green.png", "Batt_yellow.png", "Batt_red.png"};
    QSet<QRgb> bodies;
    for (const char* name : names) {
        const QImage img = picture(name);
        QCOMPARE(img.size(), QSize(70, 60));
        bodies.insert(img.pixel(kBodyPixel - QPoint(5, 0)));
        // Same drawing: the pink left cap and light blue right cap.
        const QColor left = img.pixelColor(18, 4), right = img.pixelColor(52, 4);
        QVERIFY(left.red() > left.blue() && left.red() > 200);
        QVERIFY(right.blue() > right.red() && right.blue() > 200);
    }
    QCOMPARE(bodies.size(), 4);
}

void TestTile::animationsAsDescribed_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("red") << "Batt_red_gif.gif";
    QTest::newRow("yellow") << "Batt_yellow_gif.gif";
}

void TestTile::animationsAsDescribed()
{
    QFETCH(QString, name);
    QFile f(":/new/prefix1/" + name);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray gif = f.readAll();
    QVERIFY(gif.startsWith("GIF89a"));
    QVERIFY(gif.contains("NETSCAPE2.0\x03\x01\x00\x00")); // endless loop
    // Each frame: graphic control extension with disposal 3 and delay 1.
    int frames = 0;
    for (int at = gif.indexOf("\x21\xf9\x04"); at >= 0; at = gif.indexOf("\x21\xf9\x04", at + 1)) {
        const quint8 packed = quint8(gif[at + 3]);
        QCOMPARE((packed >> 2) & 7, 3);
        QCOMPARE(quint8(gif[at + 4]) | (quint8(gif[at + 5]) << 8), 1);
        // Full size at 0,0: a partial frame over "restore to previous" shows black corners.
        auto word = [&](int i) { return quint8(gif[i]) | (quint8(gif[i + 1]) << 8); };
        QCOMPARE(quint8(gif[at + 8]), quint8(0x2c));
        QCOMPARE(word(at + 9), 0);
        QCOMPARE(word(at + 11), 0);
        QCOMPARE(word(at + 13), 70);
        QCOMPARE(word(at + 15), 60);
        ++frames;
    }
    QCOMPARE(frames, 6);
    QImageReader reader(":/new/prefix1/" + name);
    QCOMPARE(reader.imageCount(), 6);
    QList<QImage> images;
    for (int i = 0; i < 6; ++i) {
        images << reader.read();
        QCOMPARE(images.last().size(), QSize(70, 60));
        QVERIFY(images.last().pixelColor(0, 30).lightness() > 240); // white beside the body
    }
    // The body fades from saturated to pale, frame by frame.
    for (int i = 1; i < 6; ++i) {
        const QPoint at = kBodyPixel - QPoint(5, 0);
        QVERIFY(images[i - 1].pixelColor(at).saturation() > images[i].pixelColor(at).saturation());
    }
}

void TestTile::freshTile()
{
    ModeGuard native(false);
    MKPWidget tile;
    QCOMPARE(tile.size(), QSize(80, 65));
    QCOMPARE(tile.voltageLabel()->text(), QString("--,-- B"));
    QCOMPARE(tile.temperatureLabel()->text(), QString("--,- °C"));
    QCOMPARE(tile.addressLabel()->text(), QString("-/-"));
    QVERIFY(tile.toolTip().isEmpty());
    QCOMPARE(tile.currentPicture(), MKPWidget::Picture::Grey);
    QCOMPARE(bodyColour(tile), pictureColour("Batt_gray.png"));
    tile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tile));
    QVERIFY(tile.addressLabel()->isHidden());
    modbusMode = true;
    tile.repaint();
    QVERIFY(tile.addressLabel()->isVisible());
}

void TestTile::pictureByState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("picture");
    QTest::addColumn<QString>("file");
    using P = MKPWidget::Picture;
    QTest::newRow("no data") << 0 << false << int(P::Grey) << "Batt_gray.png";
    QTest::newRow("normal") << 1 << false << int(P::Green) << "Batt_green.png";
    QTest::newRow("warning confirmed") << 2 << true << int(P::Yellow) << "Batt_yellow.png";
    QTest::newRow("emergency confirmed") << 3 << true << int(P::Red) << "Batt_red.png";
    QTest::newRow("warning unconfirmed") << 2 << false << int(P::YellowAnimation) << "Batt_yellow_gif.gif";
    QTest::newRow("emergency unconfirmed") << 3 << false << int(P::RedAnimation) << "Batt_red_gif.gif";
    QTest::newRow("unknown state") << 7 << false << int(P::None) << "";
}

void TestTile::pictureByState()
{
    QFETCH(int, state);
    QFETCH(bool, confirmed);
    QFETCH(int, picture);
    QFETCH(QString, file);
    BatteryGroup group(3);
    MKPWidget tile;
    tile.setGroup(&group);
    tile.setState(state);
    tile.setConfirmed(confirmed);
    QCOMPARE(int(tile.currentPicture()), picture);
    const QColor shown = bodyColour(tile);
    if (file.endsWith(".gif")) {
        QMovie* movie = file.contains("red") ? MKPWidget::redAnimation() : MKPWidget::yellowAnimation();
        const QColor frame = movie->currentPixmap().toImage().pixelColor(kBodyPixel - QPoint(5, 0));
        // The animation may advance between the grab and this read: same hue family is enough.
        QCOMPARE(shown.hue() / 20, frame.hue() / 20);
        QVERIFY(shown != pictureColour("Batt_gray.png"));
    } else if (file.isEmpty()) {
        QCOMPARE(shown, tile.palette().color(QPalette::Window));
    } else {
        QCOMPARE(shown, pictureColour(file.toLatin1().constData()));
    }
}

void TestTile::ungroupedNeverAlarms()
{
    BatteryGroup none(0);
    for (BatteryGroup* g : {static_cast<BatteryGroup*>(nullptr), &none}) {
        MKPWidget tile;
        tile.setGroup(g);
        tile.setState(3);
        QCOMPARE(tile.currentPicture(), MKPWidget::Picture::Green);
        QCOMPARE(bodyColour(tile), pictureColour("Batt_green.png"));
        tile.setState(2);
        QCOMPARE(bodyColour(tile), pictureColour("Batt_green.png"));
        tile.setState(0);
        QCOMPARE(bodyColour(tile), pictureColour("Batt_gray.png"));
    }
}

void TestTile::hiddenUngroupedKeepsAddressLabel()
{
    ModeGuard modbus(true);
    BatteryGroup none(0), three(3);
    MKPWidget tile;
    tile.setGroup(&none);
    tile.setState(1);
    tile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tile));
    tile.setHideIfUngrouped(true);
    QTRY_VERIFY(tile.voltageLabel()->isHidden()); // decided when the tile paints
    QVERIFY(tile.temperatureLabel()->isHidden());
    QVERIFY(tile.addressLabel()->isVisible());
    QCOMPARE(bodyColour(tile), tile.palette().color(QPalette::Window)); // no picture
    // A grouped battery is never hidden.
    tile.setGroup(&three);
    tile.repaint();
    QVERIFY(tile.voltageLabel()->isVisible());
    QCOMPARE(bodyColour(tile), pictureColour("Batt_green.png"));
}

void TestTile::greyedTile()
{
    BatteryGroup group(1);
    MKPWidget tile;
    tile.setGroup(&group);
    tile.setState(1);
    tile.setHighlighted(false);
    const QImage shot = tile.grab().toImage();
    QCOMPARE(shot.pixelColor(1, 62), QColor(165, 165, 165)); // background outside the picture
    const QColor green = pictureColour("Batt_green.png");
    const QColor shown = shot.pixelColor(kBodyPixel);
    auto blend = [](int p, int bg) { return qRound(0.4 * p + 0.6 * bg); };
    QVERIFY(qAbs(shown.red() - blend(green.red(), 165)) <= 2);
    QVERIFY(qAbs(shown.green() - blend(green.green(), 165)) <= 2);
    QVERIFY(qAbs(shown.blue() - blend(green.blue(), 165)) <= 2);
    tile.setHighlighted(true);
    QCOMPARE(bodyColour(tile), green);
}

void TestTile::numbersWithComma_data()
{
    QTest::addColumn<double>("voltage");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<QString>("voltText");
    QTest::addColumn<QString>("tempText");
    QTest::newRow("design example") << 13.5 << 25.34 << "13,50 B"
                                    << "25,3 °C";
    QTest::newRow("negative") << -0.125 << -5.05 << "-0,12 B"
                              << "-5,0 °C";
    QTest::newRow("zero") << 0.0 << 0.0 << "0,00 B"
                          << "0,0 °C";
}

void TestTile::numbersWithComma()
{
    QFETCH(double, voltage);
    QFETCH(double, temperature);
    QFETCH(QString, voltText);
    QFETCH(QString, tempText);
    MKPWidget tile;
    tile.setVoltage(voltage);
    tile.setTemperature(temperature);
    QCOMPARE(tile.voltageLabel()->text(), voltText);
    QCOMPARE(tile.temperatureLabel()->text(), tempText);
    tile.setState(2); // numbers stay when the state turns non-zero
    QCOMPARE(tile.voltageLabel()->text(), voltText);
}

void TestTile::toolTipNative()
{
    ModeGuard native(false);
    AlarmThresholds thresholds;
    BatteryGroup group(2);
    Battery a(29, 3, 5), b(30, 3, 6);
    a.setThresholds(&thresholds);
    group.addBattery(&a);
    group.addBattery(&b);
    MKPWidget tile;
    a.setWidget(&tile);
    a.setThresholds(&thresholds);
    QCOMPARE(tile.toolTip(), QString("Группа: 2\nМСД:МКП - 3:5\nНапр. откл.: --,-- B\nТемп. откл.: --,- °C"));
    b.setVoltage(12.0);
    b.setTemperature(26.5);
    a.updateState();
    // A non-zero state does not rebuild the tooltip; the next reading does.
    a.setTemperature(23.5);
    a.setVoltage(12.24); // mean 12.12: +0.12; mean temperature 25.0: -1.5
    QCOMPARE(tile.toolTip(), QString("Группа: 2\nМСД:МКП - 3:5\nНапр. откл.: 0,12 B\nТемп. откл.: -1,5 °C"));
    a.setGroup(nullptr);
    QCOMPARE(tile.toolTip(),
             QString("Группа: Нет группы\nМСД:МКП - 3:5\nНапр. откл.: --,-- B\nТемп. откл.: --,- °C"));
}

void TestTile::toolTipModbus_data()
{
    QTest::addColumn<int>("groupNumber");
    QTest::addColumn<int>("batteryNumber");
    QTest::addColumn<bool>("withPage");
    QTest::addColumn<QString>("expected");
    const QString values = "Напр. откл.: --,-- B\nТемп. откл.: --,- °C";
    QTest::newRow("group 0") << 0 << 3 << true << "Без группы\n-\n" + values;
    QTest::newRow("group 8") << 8 << 3 << true << "Группа: 8\n-\n" + values;
    QTest::newRow("group 2, battery 128")
        << 2 << 128 << true << "Группа: 2\nадрес=17\n№ батареи=128\n" + values;
    QTest::newRow("battery 129") << 2 << 129 << true << "Группа: 2\nадрес=17\n№ батареи=-\n" + values;
    QTest::newRow("battery -1") << 2 << -1 << true << "Группа: 2\nадрес=17\n№ батареи=-\n" + values;
    QTest::newRow("no settings page") << 2 << 0 << false << "Группа: 2\nадрес=-\n№ батареи=0\n" + values;
}

void TestTile::toolTipModbus()
{
    QFETCH(int, groupNumber);
    QFETCH(int, batteryNumber);
    QFETCH(bool, withPage);
    QFETCH(QString, expected);
    ModeGuard modbus(true);
    std::unique_ptr<GroupsSettingsWindow> page;
    if (withPage) {
        page = std::make_unique<GroupsSettingsWindow>();
        GroupsSettingsWindow::setGroupModbusAddress(2, 17);
    }
    AlarmThresholds thresholds;
    BatteryGroup group(groupNumber);
    MKPWidget tile;
    tile.setGroup(&group);
    tile.setBatteryNumber(batteryNumber);
    tile.setThresholds(&thresholds);
    QCOMPARE(tile.toolTip(), expected);
}

void TestTile::toolTipModbusWithoutGroupKeepsOld()
{
    ModeGuard modbus(true);
    AlarmThresholds thresholds;
    BatteryGroup group(0);
    MKPWidget tile;
    tile.setGroup(&group);
    tile.setThresholds(&thresholds);
    const QString before = tile.toolTip();
    QVERIFY(before.startsWith("Без группы"));
    tile.setGroup(nullptr);
    QCOMPARE(tile.toolTip(), before);
}

void TestTile::onlyPulsingTilesRepaintOnFrames()
{
    // Counts paints over a few animation frames: a static tile must not repaint.
    struct Counting : MKPWidget
    {
        int paints = 0;
        void paintEvent(QPaintEvent* e) override
        {
            ++paints;
            MKPWidget::paintEvent(e);
        }
    };
    BatteryGroup group(1);
    Counting still, pulsing;
    for (Counting* t : {&still, &pulsing}) {
        t->setGroup(&group);
        t->show();
    }
    still.setState(1);
    pulsing.setState(3);
    QVERIFY(QTest::qWaitForWindowExposed(&pulsing));
    QTest::qWait(50);
    still.paints = pulsing.paints = 0;
    QTest::qWait(800); // eight frames at Qt's 100 ms GIF pace
    QCOMPARE(still.paints, 0);
    QVERIFY2(pulsing.paints >= 3, qPrintable(QString::number(pulsing.paints)));
}

QTEST_MAIN(TestTile)
#include "tst_tile.moc"
