// Time of one native sweep of 16 modules against the device simulator on a pty, which paces
// its answers like the wire. Compare with the wire limit and the 3000 ms polling period.
#include "link/ComPort.h"
#include "link/DevicesGuiData.h"
#include "link/WorkerObject.h"

#include <QCoreApplication>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <memory>

namespace {
constexpr double kByteMs = 11.0 * 1000.0 / 19200.0;
constexpr int kModules = 16;

// The simulator running on a fresh pty; its first line of output is the slave's path.
struct Simulator
{
    QProcess process;
    QString path;

    explicit Simulator(const QStringList& faults)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral(ORVIK_SOURCE_DIR "/tools/orvik-sim")} + faults);
        if (process.waitForStarted(5000) && process.waitForReadyRead(10000))
            path = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Simulator()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

void sweep(benchmark::State& state, const QStringList& faults, double wireLimitMs)
{
    Simulator simulator(faults);
    if (simulator.path.isEmpty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    ComPort port(simulator.path, 19200);
    if (!port.open()) {
        state.SkipWithError("the simulator's line does not open");
        return;
    }
    WorkerObject worker;
    worker.setPort(&port);
    int valid = 0;
    QObject::connect(
        &worker, &WorkerObject::dataArrived, &worker,
        [&](const DevicesGuiData& data) {
            valid = 0;
            for (const MsdData& entry : data.msd)
                valid += entry.valid ? 1 : 0;
        },
        Qt::DirectConnection);

    for (auto _ : state)
        worker.timeoutHandler();

    state.counters["valid_modules"] = valid;
    state.counters["wire_limit_ms"] = wireLimitMs;
    state.counters["period_ms"] = WorkerObject::pollingPeriodMs;
}

void BM_SweepAllAnswering(benchmark::State& state)
{
    // Request and answer (3 + 32 bytes) and the pause after the address byte, per module.
    sweep(state, {}, kModules * (35 * kByteMs + ComPort::addressPauseMs));
}

void BM_SweepAllSilent(benchmark::State& state)
{
    // The request, the pause and the whole read time-out, per module.
    sweep(state, {QStringLiteral("--silent"), QStringLiteral("all")},
          kModules * (3 * kByteMs + ComPort::addressPauseMs + ComPort::readTimeoutMs));
}
} // namespace

BENCHMARK(BM_SweepAllAnswering)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_SweepAllSilent)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
