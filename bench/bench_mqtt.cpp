// Publishing the room to MQTT, against a real broker on loopback:
// - the GUI thread's cost of handing one sweep over (the history's copy and the room's snapshot
//   for the publisher's thread), goal under 0.1 ms;
// - from a sweep reaching the window to its battery messages at a subscriber, median and 99th
//   percentile, goal under 50 ms / 200 ms;
// - the native sweep period during an alarm storm while the broker is down (killed after
//   ORVIK_MQTT_UP_SECONDS, default 10; the run lasts ORVIK_MQTT_DOWN_SECONDS more, default 60,
//   600 for the full figure), goal 3 s ± 5 %.
#include "app/MainWindowForm.h"
#include "app/RoomFeed.h"
#include "app/StatusNotices.h"
#include "bench/WindowBenchmark.h"
#include "tests/common/SimulatedLine.h"
#include "tests/common/StormSupport.h"
#include "tests/common/WindowInFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <mosquitto.h>
#include <mutex>
#include <vector>

namespace {

template <typename Predicate> bool waitFor(Predicate done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return done();
}

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// An anonymous broker on loopback, killed with the benchmark.
struct Broker
{
    QTemporaryDir dir;
    ChildOfTest process;
    const int port = freePort();

    bool start()
    {
        QFile conf(dir.filePath("conf"));
        if (!conf.open(QIODevice::WriteOnly) ||
            conf.write(
                QString("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\n")
                    .arg(port)
                    .toUtf8()) < 0)
            return false;
        conf.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("mosquitto", {"-c", conf.fileName()});
        QByteArray said;
        return waitFor([&] { return (said += process.readAll()).contains(" running"); }, 5000);
    }
    ~Broker()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

QByteArray roomSettings(int port)
{
    QByteArray xml = everyBatteryGrouped();
    xml.chop(QByteArray("</settings>\n").size());
    return xml + QString(" <room_name>bench</room_name>\n <mqtt_enabled>true</mqtt_enabled>\n"
                         " <mqtt_host>127.0.0.1</mqtt_host>\n <mqtt_port>%1</mqtt_port>\n</settings>\n")
                     .arg(port)
                     .toUtf8();
}

// One native sweep of 128 batteries, every value `volts` but `last` for the last one published
// (МСД 11 МКП 8, the last of group 6).
DevicesGuiData sweepOf(double volts, double last)
{
    DevicesGuiData data;
    for (int m = 0; m < 16; ++m) {
        data.msd[m].valid = data.answered[m] = true;
        data.msd[m].msd_number = std::uint32_t(m);
        for (int c = 0; c < 8; ++c)
            data.msd[m].channel[c] = {m == 11 && c == 7 ? last : volts, 24.0};
    }
    return data;
}

// Subscribes to that battery's topic with libmosquitto's own thread and notes when a
// message with the awaited voltage arrives.
struct Subscriber
{
    mosquitto* client = nullptr;
    std::mutex mutex;
    QByteArray awaited;
    QElapsedTimer clock;
    std::atomic<qint64> arrivedNs{-1};

    explicit Subscriber(int port)
    {
        mosquitto_lib_init();
        client = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Subscriber*>(self);
            const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->awaited.isEmpty() && payload.contains(s->awaited))
                s->arrivedNs = s->clock.nsecsElapsed();
        });
        mosquitto_connect(client, "127.0.0.1", port, 30);
        mosquitto_subscribe(client, nullptr, "orvik/bench/battery/11_8", 0);
        mosquitto_loop_start(client);
    }
    void await(const QByteArray& text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        awaited = text;
        arrivedNs = -1;
    }
    ~Subscriber()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
    }
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

// A broker and a window publishing to it, polling as far as the window knows.
struct PublishingRoom
{
    Broker broker;
    std::unique_ptr<WindowInFolder> folder;
    MainWindow* window = nullptr;

    bool start(benchmark::State& state)
    {
        if (!broker.start()) {
            state.SkipWithError("the broker did not start");
            return false;
        }
        folder = std::make_unique<WindowInFolder>(roomSettings(broker.port));
        window = folder->window.get();
        window->setNativeRunning(true);
        return true;
    }
};

void BM_HandOverPerSweep(benchmark::State& state)
{
    PublishingRoom room;
    if (!room.start(state))
        return;
    MainWindow* window = room.window;
    window->dataArrivedHandler(sweepOf(13.5, 13.5));
    for (auto _ : state)
        window->history()->takeSweep(window->rows());
    QCoreApplication::processEvents();
}
BENCHMARK(BM_HandOverPerSweep)->Unit(benchmark::kMicrosecond)->Iterations(3000);

void BM_SweepToSubscriber(benchmark::State& state)
{
    PublishingRoom room;
    if (!room.start(state))
        return;
    MainWindow* window = room.window;
    Subscriber subscriber(room.broker.port);
    subscriber.clock.start();
    // Connected and published once before the clock runs.
    subscriber.await("\"u\":");
    window->dataArrivedHandler(sweepOf(13.5, 13.5));
    if (!waitFor([&] { return subscriber.arrivedNs >= 0; }, 15000)) {
        state.SkipWithError("no message from the room within 15 s");
        return;
    }
    std::vector<double> ms;
    int n = 0;
    for (auto _ : state) {
        // Two decimals none of which is 0, as the JSON writes them: 13.11 .. 13.18.
        const double last = 13.11 + 0.01 * (n++ % 8);
        subscriber.await(QString("\"u\":%1,").arg(last, 0, 'f', 2).toUtf8());
        const qint64 sent = subscriber.clock.nsecsElapsed();
        window->dataArrivedHandler(sweepOf(13.5, last));
        if (!waitFor([&] { return subscriber.arrivedNs >= 0; }, 5000)) {
            state.SkipWithError("the battery's message did not arrive within 5 s");
            break;
        }
        const double elapsed = double(subscriber.arrivedNs - sent) / 1e6;
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
        waitFor([] { return false; }, 20); // the window idles between sweeps
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p99_ms"] = percentile(ms, 0.99);
}
BENCHMARK(BM_SweepToSubscriber)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);

void BM_SweepPeriodBrokerDown(benchmark::State& state)
{
    const int upSeconds = qEnvironmentVariableIsSet("ORVIK_MQTT_UP_SECONDS")
                              ? qEnvironmentVariableIntValue("ORVIK_MQTT_UP_SECONDS")
                              : 10;
    const int downSeconds = qEnvironmentVariableIsSet("ORVIK_MQTT_DOWN_SECONDS")
                                ? qEnvironmentVariableIntValue("ORVIK_MQTT_DOWN_SECONDS")
                                : 60;
    Broker broker;
    SimulatedLine line;
    if (!broker.start() || !line.start(stormOptions())) {
        state.SkipWithError("the broker or the simulator did not start");
        return;
    }
    WindowInFolder folder(roomSettings(broker.port), {}, line.link());
    MainWindow* window = folder.window.get();
    std::vector<qint64> sweeps;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(window->history(), &RoomFeed::sweepTaken, [&] { sweeps.push_back(clock.elapsed()); });
    window->show();
    window->form()->pb_stop_start->click();
    for (auto _ : state) {
        waitFor([] { return false; }, upSeconds * 1000);
        broker.process.kill();
        const size_t from = sweeps.size();
        waitFor([] { return false; }, downSeconds * 1000);
        if (!countSweepPeriods(state, sweeps, from)) {
            state.SkipWithError("no sweeps while the broker was down");
            break;
        }
        // "MQTT: нет связи с брокером, событий в очереди: N"
        const QString status = window->statusNotices()->label(StatusNotices::Mqtt)->text();
        state.counters["queued_events"] = status.section(QLatin1Char(' '), -1).toDouble();
    }
    window->form()->pb_stop_start->click();
}
BENCHMARK(BM_SweepPeriodBrokerDown)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    return runWithWidgets(argc, argv);
}
