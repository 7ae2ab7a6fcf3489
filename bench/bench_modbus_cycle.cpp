// Time of one full Modbus cycle over six devices: the main window's exchange against the
// device simulator on a pty, which paces its bytes like the wire. Compare with the wire
// limit: per device three requests of 8 bytes and answers of 255, 255 and 23 bytes, 11 bits
// a byte at 19200 baud, plus the 400 ms pause between devices.
#include "tests/common/SimulatedLine.h"
#include "tests/common/WindowInFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {
constexpr int kDevices = 6;
constexpr int kRequestsPerDevice = 3;
constexpr double kBytesPerDevice = 3 * 8 + 255 + 255 + 23;
constexpr double kByteMs = 11.0 * 1000.0 / 19200.0;
constexpr double kPauseBetweenDevicesMs = 400.0;
constexpr double kWireLimitMs = kDevices * (kBytesPerDevice * kByteMs + kPauseBetweenDevicesMs);

void BM_FullCycleSixDevices(benchmark::State& state)
{
    SimulatedLine sim;
    if (!sim.start({QStringLiteral("--modbus"), QStringLiteral("--addresses"), QStringLiteral("1-6")})) {
        state.SkipWithError("the Modbus simulator did not start");
        return;
    }
    // Group g: eight batteries of МСД row g - 1, device address g, from its first channel.
    QByteArray xml = " <mode>true</mode>\n <com_port>" + sim.link().toUtf8() + "</com_port>\n";
    for (int g = 1; g <= kDevices; ++g) {
        for (int mkp = 0; mkp < 8; ++mkp)
            xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                       .arg(g - 1)
                       .arg(mkp)
                       .arg(g)
                       .toUtf8();
        xml += QString(" <ModbusAddr%1>%1</ModbusAddr%1>\n <Dat%1>0</Dat%1>\n").arg(g).toUtf8();
    }
    WindowInFolder f(settingsWith(xml), {}, sim.link());

    // Every request leaves the monitor as one write; a cycle is 18 of them.
    QElapsedTimer clock;
    clock.start();
    QList<qint64> sends;
    QEventLoop loop;
    int wanted = 0;
    QObject::connect(f->modbusPort(), &QSerialPort::bytesWritten, [&](qint64) {
        sends << clock.elapsed();
        if (sends.size() >= wanted)
            loop.quit();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);

    auto waitForSends = [&](int count) {
        wanted = count;
        watchdog.start(20000);
        while (sends.size() < wanted && watchdog.isActive())
            loop.exec();
        return sends.size() >= wanted;
    };

    if (!f->startModbus()) {
        state.SkipWithError("the exchange did not start");
        return;
    }
    // The first cycle is the warm-up.
    const int perCycle = kDevices * kRequestsPerDevice;
    if (!waitForSends(perCycle + 1)) {
        state.SkipWithError("the devices do not answer");
        return;
    }
    int cycles = 0;
    for (auto _ : state) {
        const int from = sends.size() - 1;
        if (!waitForSends(from + perCycle + 1)) {
            state.SkipWithError("the cycle stalled");
            break;
        }
        state.SetIterationTime(double(sends[from + perCycle] - sends[from]) / 1000.0);
        ++cycles;
    }
    const bool healthy = f.status() == QStringLiteral("обмен по modbus: ок");
    f->stopModbus();
    state.counters["wire_limit_ms"] = kWireLimitMs;
    state.counters["all_answered"] = healthy ? 1 : 0;
    state.counters["cycles"] = cycles;
}
} // namespace

BENCHMARK(BM_FullCycleSixDevices)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
