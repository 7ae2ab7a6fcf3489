// Draws one tile in each state side by side into a PNG, for the documentation.
//   orvik-tile-states <out.png>
#include "config/ProgramMode.h"
#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    MKPWidget::loadImages();
    BatteryGroup group(1), none(0);
    struct Case
    {
        const char* caption;
        int state;
        bool confirmed;
        bool grouped;
        bool highlighted;
        int commLoss = 0; // 1 lost, 2 lost and confirmed
    };
    const Case cases[] = {
        {"нет данных", 0, false, true, true},
        {"норма", 1, false, true, true},
        {"предупр.", 2, false, true, true},
        {"предупр. подтв.", 2, true, true, true},
        {"авария", 3, false, true, true},
        {"авария подтв.", 3, true, true, true},
        {"без группы, авария", 3, false, false, true},
        {"не выбрана", 1, false, true, false},
        {"нет связи", 0, false, true, true, 1},
        {"нет связи подтв.", 0, false, true, true, 2},
    };
    const int n = int(sizeof cases / sizeof cases[0]);
    QImage sheet(n * 110, 100, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    QFont small = painter.font();
    small.setPointSize(7);
    painter.setFont(small);
    for (int i = 0; i < n; ++i) {
        MKPWidget tile;
        Battery battery(i, 0, i % 8);
        battery.setWidget(&tile);
        battery.setGroup(cases[i].grouped ? &group : &none);
        battery.setVoltage(12.0 + i * 0.17);
        battery.setTemperature(24.0 + i * 0.6);
        battery.setState(cases[i].state);
        battery.setConfirmed(cases[i].confirmed);
        tile.setHighlighted(cases[i].highlighted);
        tile.setCommLoss(cases[i].commLoss > 0, cases[i].commLoss == 2);
        painter.drawPixmap(i * 110 + 15, 5, tile.grab());
        painter.drawText(QRect(i * 110, 72, 110, 26), Qt::AlignCenter | Qt::TextWordWrap,
                         QString::fromUtf8(cases[i].caption));
    }
    painter.end();
    return sheet.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
