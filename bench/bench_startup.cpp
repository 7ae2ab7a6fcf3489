// Start-up of the main window in a working folder holding a grouped settings.xml and a
// journal.html of about 1 MiB, or no journal at all: the time from constructing the window
// until its first picture is painted and settled (offscreen platform), and, apart, the time to
// destroy it. The first start in the process, with its one-time work, is reported too.
// The files are in the page cache, as after any earlier run of the program.
#include "SampleJournal.h"
#include "app/MainWindow.h"
#include "journal/Event.h"
#include "journal/JournalFormat.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <clocale>

namespace {
// Counts what the window's widgets do to reach their first settled picture.
struct ScreenWork : QObject
{
    long paints = 0, events = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWidgetType())
            return false;
        switch (event->type()) {
        case QEvent::Paint:
            ++paints;
            ++events;
            break;
        case QEvent::LayoutRequest:
        case QEvent::UpdateRequest:
        case QEvent::UpdateLater:
        case QEvent::Resize:
            ++events;
            break;
        default:
            break;
        }
        return false;
    }
};

using SampleJournal::journalOf;
using SampleJournal::numbered;

QByteArray groupedSettings()
{
    QByteArray children;
    for (int i = 0; i < 128; ++i)
        children += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                        .arg(i / 8)
                        .arg(i % 8)
                        .arg(1 + i * 6 / 128)
                        .toUtf8();
    return "<!DOCTYPE settings>\n<settings>\n" + children + "</settings>\n";
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

void startUp(benchmark::State& state, qint64 journalBytes)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    const QByteArray journal = journalBytes > 0 ? journalOf(journalBytes) : QByteArray();
    if (!writeFile(dir.filePath("settings.xml"), groupedSettings())) {
        state.SkipWithError("cannot write settings.xml");
        return;
    }
    QDir::setCurrent(dir.path());

    QElapsedTimer clock;
    double constructTotal = 0.0, destroyTotal = 0.0, paintsTotal = 0.0, slowest = 0.0, first = -1.0;
    bool allPainted = true;
    for (auto _ : state) {
        QFile::remove(dir.filePath("journal_bak.html"));
        if (journal.isEmpty())
            QFile::remove(dir.filePath("journal.html"));
        else if (!writeFile(dir.filePath("journal.html"), journal)) {
            state.SkipWithError("cannot write journal.html");
            break;
        }

        clock.start();
        auto* window = new MainWindow();
        MainWindow::instance = window;
        const qint64 constructed = clock.nsecsElapsed();
        // The first paint is followed at once by the layouts it left and their repaint:
        // the picture is there once a pass of the event loop has none of that work left.
        ScreenWork work;
        qApp->installEventFilter(&work);
        window->show();
        QElapsedTimer deadline;
        deadline.start();
        for (long before = -1; deadline.elapsed() < 10000;) {
            before = work.events;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (work.paints > 0 && work.events == before)
                break;
        }
        qApp->removeEventFilter(&work);
        const qint64 painted = clock.nsecsElapsed();
        allPainted = allPainted && work.paints > 0;
        paintsTotal += double(work.paints);

        clock.start();
        MainWindow::instance = nullptr;
        delete window;
        QCoreApplication::processEvents(); // deferred deletions
        const double destroyed = clock.nsecsElapsed() / 1e6;

        state.SetIterationTime(painted / 1e9);
        constructTotal += constructed / 1e6;
        destroyTotal += destroyed;
        slowest = std::max(slowest, painted / 1e6);
        if (first < 0.0)
            first = painted / 1e6;
    }
    QDir::setCurrent(previous);

    state.counters["construct_ms"] = benchmark::Counter(constructTotal, benchmark::Counter::kAvgIterations);
    state.counters["destroy_ms"] = benchmark::Counter(destroyTotal, benchmark::Counter::kAvgIterations);
    state.counters["slowest_ms"] = slowest;
    state.counters["first_in_process_ms"] = first;
    state.counters["widget_paints"] = benchmark::Counter(paintsTotal, benchmark::Counter::kAvgIterations);
    state.counters["journal_bytes"] = double(journal.size());
    if (!allPainted)
        state.SkipWithError("the window was not painted within 10 s");
}
} // namespace

BENCHMARK_CAPTURE(startUp, journal_1MiB, qint64(1048576))
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);
BENCHMARK_CAPTURE(startUp, no_journal, qint64(0))
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
