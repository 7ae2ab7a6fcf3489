// Builds the real main window in a scratch folder with six battery groups (the first of
// 100 batteries), feeds it plausible readings and saves a picture of the deviations page,
// scrolled sideways into the large group, for the documentation.
//   orvik-deviations-shot <out.png>
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/ResizableScrollArea.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QRadioButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {
// Battery ids of each group: group 1 takes 0..99, the other 28 go to groups 2..6.
int groupOfBattery(int id)
{
    if (id < 100)
        return 1;
    static const int firstIds[] = {100, 108, 114, 120, 124, 128};
    for (int g = 0; g < 5; ++g)
        if (id < firstIds[g + 1])
            return g + 2;
    return 0;
}

QByteArray settingsXml()
{
    QByteArray xml = "<!DOCTYPE settings>\n<settings>\n";
    for (int id = 0; id < 128; ++id)
        xml += QStringLiteral("<group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                   .arg(id / 8)
                   .arg(id % 8)
                   .arg(groupOfBattery(id))
                   .toUtf8();
    return xml + "</settings>\n";
}

// Repeatable readings: small scatter around the group's level, a few batteries far off.
void feed(MainWindow& window)
{
    for (const QList<Battery*>& row : window.rows()) {
        for (Battery* b : row) {
            const int id = b->id();
            const double wave = std::sin(id * 1.7) + 0.5 * std::cos(id * 0.61);
            double u = 13.55 + 0.22 * wave + 0.01 * (groupOfBattery(id) % 3);
            double t = 24.0 + 1.1 * std::cos(id * 0.9) + 0.4 * groupOfBattery(id);
            if (id == 7 || id == 103)
                u += 1.45; // warning above
            if (id == 41 || id == 118)
                u -= 2.1; // emergency below
            if (id == 66)
                u += 3.4; // far above: the bar stops at its cap
            if (id == 23 || id == 125)
                t += 4.6; // temperature warning
            if (id == 88 || id == 111)
                t -= 6.2;                        // temperature emergency
            b->setNoData(id == 52 || id == 121); // modules that did not answer
            b->setVoltage(b->hasNoData() ? 0.0 : u);
            b->setTemperature(b->hasNoData() ? 0.0 : t);
        }
    }
    for (const QList<Battery*>& row : window.rows())
        for (Battery* b : row)
            if (b->groupNumber() != 0 && !b->hasNoData())
                b->updateState();
    for (int k = 1; k <= 6; ++k) {
        window.batteryGroups()[k]->setIdle(false);
        window.batteryGroups()[k]->recalculate();
    }
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    if (QFontDatabase().families().isEmpty()) {
        std::fprintf(stderr, "no font found: the picture would have no text\n");
        return 1;
    }
    const QString out = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();

    QTemporaryDir scratch;
    QFile settings(scratch.filePath(QStringLiteral("settings.xml")));
    if (!scratch.isValid() || !settings.open(QIODevice::WriteOnly) || settings.write(settingsXml()) < 0) {
        std::fprintf(stderr, "cannot prepare the scratch folder\n");
        return 1;
    }
    settings.close();
    QDir::setCurrent(scratch.path());

    MainWindow window;
    MainWindow::instance = &window;
    // Tall enough for three of the six groups.
    window.resize(1166, 1240);
    window.show();
    feed(window);
    window.setDeviationChartsRunning(true);
    window.form()->rb_divergences->setChecked(true);
    window.form()->stacked_widget->setCurrentIndex(1);
    for (int i = 0; i < 10; ++i)
        app.processEvents();
    window.repaintDeviationCharts();
    for (int i = 0; i < 10; ++i)
        app.processEvents();

    ResizableScrollArea* area = window.form()->deriv_container_scroll;
    QScrollBar* sideways = area->horizontalScrollBar();
    // Sideways into the large group, as far as the smaller groups' charts still show.
    sideways->setValue(qMin(sideways->maximum(), 330));
    for (int i = 0; i < 10; ++i)
        app.processEvents();
    if (sideways->maximum() <= 0) {
        std::fprintf(stderr, "the large group did not widen the page\n");
        return 1;
    }

    const bool saved = window.grab().save(out);
    MainWindow::instance = nullptr;
    QDir::setCurrent(QDir::tempPath());
    return saved ? 0 : 1;
}
