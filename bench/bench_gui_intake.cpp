// Time the window takes to take in one native sweep (16 modules × 8 channels) with all
// 128 batteries in groups 1..6 and the values page on screen (offscreen platform). The
// measured time is dataArrivedHandler itself, tile repaints included (the tiles repaint at
// once); the work it leaves queued (label texts, journal page rows) is timed separately, as
// one pass of the event loop right after it.
// Cases: all normal; alarms starting and ending every sweep (these two also with every
// absolute limit on, to show what judging against them costs, and with one group of 104
// batteries or six groups of 8 instead of six of 21 or 22); half the modules silent; and,
// to tell the tiles' own painting (they repaint at once) from the rest, all normal with the
// journal page shown instead of the values page.
//   bench_gui_intake [--no-sound-server] [Google Benchmark options]
// Without --no-sound-server a private PulseAudio server with a null sink takes the sounds
// (when pulseaudio is installed); with it no server can be found and the player stays silent.
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "tests/common/PulseServer.h"
#include "tests/common/WindowInFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
enum class Load
{
    AllNormal,
    AlarmsChanging,
    HalfSilent
};

enum class Groups
{
    SixOf21,  // all 128, each group over three modules
    OneOf104, // modules 0..12 in group 1, the rest ungrouped
    SixOf8    // module g - 1 is group g, the rest ungrouped
};

// Battery i in group 1 + i*6/128: six groups of 21 or 22 batteries, each over three modules.
// With limits: all eight on for the installation, clear of the readings (about 25 V and
// 12 °C; the alarm case's 5 V jump passes the high warning, under its deviation's emergency),
// and group 3 with an override of its own.
QByteArray groupedSettings(bool limits, Groups groups)
{
    QByteArray children = " <warning_alarm>true</warning_alarm>\n <emergency_alarm>true</emergency_alarm>\n";
    if (limits)
        children += " <volt_abs_high_warning>28</volt_abs_high_warning>\n"
                    " <volt_abs_high_emergency>31</volt_abs_high_emergency>\n"
                    " <volt_abs_low_warning>22</volt_abs_low_warning>\n"
                    " <volt_abs_low_emergency>20</volt_abs_low_emergency>\n"
                    " <temp_abs_high_warning>40</temp_abs_high_warning>\n"
                    " <temp_abs_high_emergency>50</temp_abs_high_emergency>\n"
                    " <temp_abs_low_warning>5</temp_abs_low_warning>\n"
                    " <temp_abs_low_emergency>0</temp_abs_low_emergency>\n"
                    " <volt_abs_high_warning_3>27.5</volt_abs_high_warning_3>\n";
    for (int i = 0; i < 128; ++i) {
        const int group = groups == Groups::SixOf21    ? 1 + i * 6 / 128
                          : groups == Groups::OneOf104 ? (i < 104 ? 1 : 0)
                                                       : (i < 48 ? 1 + i / 8 : 0);
        if (group)
            children += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                            .arg(i / 8)
                            .arg(i % 8)
                            .arg(group)
                            .toUtf8();
    }
    return settingsWith(children);
}

// Sweep n of a case. Readings move a little every sweep, as real ones do, so every tile has
// new text to show. In the alarm case every even sweep puts one battery of each module 5 V
// above the others (an emergency once the group mean is taken: 4.3..4.5 V) and another 5.1 °C
// above (a warning: 4.4..4.6 °C); every odd sweep brings them back, ending those alarms.
DevicesGuiData sweepOf(Load load, int n)
{
    DevicesGuiData data;
    for (int m = 0; m < DevicesGuiData::msdCount; ++m) {
        MsdData& module = data.msd[m];
        module.valid = data.answered[m] = !(load == Load::HalfSilent && m % 2 == 1);
        for (int c = 0; c < MsdData::channelCount; ++c)
            module.channel[c] = {25.0 + 0.1 * ((n + c) % 3), 12.0 + 0.01 * ((n + m + c) % 5)};
        if (load == Load::AlarmsChanging && n % 2 == 0) {
            const int c = (n / 2) % MsdData::channelCount;
            module.channel[c].voltage += 5.0;
            module.channel[(c + 3) % MsdData::channelCount].temperature += 5.1;
        }
    }
    return data;
}

// Runs the event loop until nothing is left to do right now.
void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

void takeInSweeps(benchmark::State& state, Load load, bool valuesPage, bool limits = false,
                  Groups groups = Groups::SixOf21)
{
    WindowInFolder folder(groupedSettings(limits, groups));
    MainWindow& window = *folder.window;
    window.show();
    // Tall enough that all 16 rows are on screen and every tile paints.
    window.resize(1400, 1400);
    // What starting the native exchange changes on screen, without a port.
    window.setNativeRunning(true);
    window.setDeviationChartsRunning(true);
    for (int k = 1; k <= 6; ++k)
        window.batteryGroups()[k]->setIdle(false);
    if (!valuesPage)
        window.setCurrentMode(2);
    drainEvents();

    long journalEvents = 0, soundSignals = 0;
    QObject::connect(&window, &MainWindow::addJournalEvent, [&] { ++journalEvents; });
    QObject::connect(&window, &MainWindow::startWarningSound, [&] { ++soundSignals; });
    QObject::connect(&window, &MainWindow::startCrashSound, [&] { ++soundSignals; });
    QObject::connect(&window, &MainWindow::stopSounds, [&] { ++soundSignals; });

    int n = 0;
    for (; n < 8; ++n) { // warm-up: first paints, first alarms, first sounds
        window.dataArrivedHandler(sweepOf(load, n));
        drainEvents();
    }
    journalEvents = soundSignals = 0;

    QElapsedTimer clock;
    double repaintTotal = 0.0, repaintMax = 0.0;
    std::vector<double> calls;
    for (auto _ : state) {
        const DevicesGuiData sweep = sweepOf(load, n++);
        clock.start();
        window.dataArrivedHandler(sweep);
        const qint64 call = clock.nsecsElapsed();
        QCoreApplication::processEvents();
        const double repaint = (clock.nsecsElapsed() - call) / 1e6;
        state.SetIterationTime(call / 1e9);
        calls.push_back(call / 1e6);
        repaintMax = std::max(repaintMax, repaint);
        repaintTotal += repaint;
    }

    // The median as well: on a shared machine a few sweeps are held up by others.
    std::sort(calls.begin(), calls.end());
    if (!calls.empty()) {
        state.counters["call_median_ms"] = calls[calls.size() / 2];
        state.counters["call_max_ms"] = calls.back();
    }
    state.counters["repaint_ms"] = benchmark::Counter(repaintTotal, benchmark::Counter::kAvgIterations);
    state.counters["repaint_max_ms"] = repaintMax;
    state.counters["journal_events_per_sweep"] =
        benchmark::Counter(double(journalEvents), benchmark::Counter::kAvgIterations);
    state.counters["sound_signals_per_sweep"] =
        benchmark::Counter(double(soundSignals), benchmark::Counter::kAvgIterations);
    state.counters["sound_output"] = window.soundPlayer()->hasOutput() ? 1 : 0;
    if (load == Load::AlarmsChanging && journalEvents == 0)
        state.SkipWithError("the alarms raised no journal event");
}
} // namespace

BENCHMARK_CAPTURE(takeInSweeps, all_normal, Load::AllNormal, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, all_normal_limits, Load::AllNormal, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, alarms_changing, Load::AlarmsChanging, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, alarms_changing_limits, Load::AlarmsChanging, true, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, all_normal_one_group_104, Load::AllNormal, true, false, Groups::OneOf104)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, alarms_changing_one_group_104, Load::AlarmsChanging, true, false,
                  Groups::OneOf104)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, all_normal_six_groups_8, Load::AllNormal, true, false, Groups::SixOf8)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, alarms_changing_six_groups_8, Load::AlarmsChanging, true, false,
                  Groups::SixOf8)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, half_silent, Load::HalfSilent, true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);
BENCHMARK_CAPTURE(takeInSweeps, all_normal_journal_page, Load::AllNormal, false)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(200);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bool soundServer = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-sound-server") == 0) {
            soundServer = false;
            std::copy(argv + i + 1, argv + argc, argv + i);
            argv[--argc] = nullptr;
            break;
        }
    }
    // The audio plugin connects once, to the server it finds when the application starts.
    PulseServer pulse;
    if (!soundServer)
        qputenv("PULSE_SERVER", "unix:/nonexistent/orvik-bench");
    else if (!pulse.start())
        std::fprintf(stderr, "bench_gui_intake: %s; the sounds stay silent\n", qPrintable(pulse.problem));
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::AddCustomContext("sound_server",
                                soundServer && pulse.problem.isEmpty() ? "pulseaudio null sink" : "none");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
