// CPU time per second of wall time of the values page under the offscreen platform:
// (a) no battery in alarm, (b) all 128 in unconfirmed emergency (every tile pulsing),
// (c) as (b) with the frames played at the 10 ms they ask for.
//   bench_tile_cpu [seconds per case, default 5]
#include "app/MainWindow.h"
#include "core/Battery.h"
#include "core/StateCode.h"
#include "widgets/MKPWidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMovie>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {
// Counts the paint events the tiles receive.
struct PaintCounter : QObject
{
    long paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
PaintCounter counter;
long frames = 0;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Figures
{
    double cpuPercent, framesPerSecond, paintsPerSecond;
};

Figures measure(int seconds)
{
    runEventLoop(1000); // warm-up
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    const long frames0 = frames, paints0 = counter.paints;
    wall.start();
    runEventLoop(seconds * 1000);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    return {100.0 * (cpuSeconds() - cpu0) / elapsed, (frames - frames0) / elapsed,
            (counter.paints - paints0) / elapsed};
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QString(argv[1]).toInt() : 5;

    // Every battery in group 1, so an emergency really shows the pulsing picture.
    QTemporaryDir dir;
    QFile settings(dir.filePath("settings.xml"));
    settings.open(QIODevice::WriteOnly);
    QByteArray xml = "<!DOCTYPE settings>\n<settings>\n";
    for (int i = 0; i < 128; ++i)
        xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">1</group_id>\n").arg(i / 8).arg(i % 8).toUtf8();
    settings.write(xml + "</settings>\n");
    settings.close();
    QDir::setCurrent(dir.path());

    MainWindow window;
    MainWindow::instance = &window;
    window.show();
    // Tall enough that all 16 rows are on screen and every tile paints.
    window.resize(1400, 1400);

    QObject::connect(MKPWidget::redAnimation(), &QMovie::frameChanged, [] { ++frames; });
    for (const auto& row : window.rows())
        for (Battery* b : row) {
            window.tileOf(b)->installEventFilter(&counter);
            b->setState(StateCode::Normal);
        }
    const Figures idle = measure(seconds);

    for (const auto& row : window.rows())
        for (Battery* b : row) {
            b->setConfirmed(false);
            b->setState(StateCode::Emergency);
        }
    const Figures storm = measure(seconds);
    // The frames ask for 10 ms, which Qt's GIF reader stretches to 100 ms; this case
    // plays them at the rate they ask for, the worst the page could face.
    MKPWidget::redAnimation()->setSpeed(1000);
    MKPWidget::yellowAnimation()->setSpeed(1000);
    const Figures fast = measure(seconds);

    std::printf("values page, %d s per case, offscreen platform\n", seconds);
    std::printf("  (a) no battery in alarm:          %6.2f %% of one core (goal < 2 %%), "
                "%5.1f frames/s, %7.1f tile paints/s\n",
                idle.cpuPercent, idle.framesPerSecond, idle.paintsPerSecond);
    std::printf("  (b) 128 in unconfirmed emergency: %6.2f %% of one core (goal < 15 %%), "
                "%5.1f frames/s, %7.1f tile paints/s\n",
                storm.cpuPercent, storm.framesPerSecond, storm.paintsPerSecond);
    std::printf("  (c) as (b), frames at 10 ms:      %6.2f %% of one core (goal < 15 %%), "
                "%5.1f frames/s, %7.1f tile paints/s\n",
                fast.cpuPercent, fast.framesPerSecond, fast.paintsPerSecond);
    MainWindow::instance = nullptr;
    return 0;
}
