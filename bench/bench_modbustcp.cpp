// The read-only Modbus TCP server, four SCADA clients on loopback each reading 125 input
// registers every 100 ms:
// - round trip of one read, median and 99th percentile, while the window hands a sweep over
//   every 3 s (ORVIK_TCP_POLL_SECONDS, default 15), goal under 2 ms / 10 ms;
// - the GUI thread's cost of handing one sweep over with the server running, goal under 0.1 ms;
// - the native sweep period during an alarm storm (ORVIK_TCP_SECONDS, default 60), goal 3 s ± 5 %.
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
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int secondsFrom(const char* name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

// Runs the GUI thread's events for `ms`, or until `done` holds.
template <typename Done> bool spin(int ms, Done done)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done())
            return true;
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(250);
    }
}

void idle(int ms)
{
    spin(ms, [] { return false; });
}

quint16 unusedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 15020;
}

QByteArray serverSettings(quint16 port)
{
    QByteArray xml = everyBatteryGrouped();
    xml.replace("</settings>\n", QString(" <modbus_tcp_enabled>true</modbus_tcp_enabled>\n"
                                         " <modbus_tcp_address>127.0.0.1</modbus_tcp_address>\n"
                                         " <modbus_tcp_port>%1</modbus_tcp_port>\n</settings>\n")
                                     .arg(port)
                                     .toUtf8());
    return xml;
}

// A native sweep: every module answered, every battery at `volts` and 24.5 °C.
DevicesGuiData sweepAt(double volts)
{
    DevicesGuiData sweep;
    for (int module = 0; module < DevicesGuiData::msdCount; ++module) {
        sweep.answered[module] = sweep.msd[module].valid = true;
        for (auto& channel : sweep.msd[module].channel)
            channel = {volts, 24.5};
    }
    return sweep;
}

bool readAll(int fd, char* to, size_t size)
{
    while (size > 0) {
        const ssize_t got = ::recv(fd, to, size, 0);
        if (got <= 0)
            return false;
        to += got, size -= size_t(got);
    }
    return true;
}

// One SCADA client on a plain blocking socket: reads input registers 0..124 of unit 1 every
// 100 ms and keeps each round trip.
class Poller
{
public:
    explicit Poller(quint16 port) : m_port(port) {}
    ~Poller() { stop(); }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // The round trips in ms since the last call, and the failed reads.
    std::vector<double> takeRoundTrips(int* failures)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *failures += m_failures;
        m_failures = 0;
        return std::exchange(m_roundTrips, {});
    }

private:
    int connectToServer() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const timeval wait{2, 0};
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    // Header of 7 bytes, then function 4, start 0, count 125.
    static bool readOnce(int fd, quint16 transaction)
    {
        const char request[12] = {
            char(transaction >> 8), char(transaction & 0xff), 0, 0, 0, 6, 1, 4, 0, 0, 0, 125};
        if (::send(fd, request, sizeof request, MSG_NOSIGNAL) != ssize_t(sizeof request))
            return false;
        char answer[7 + 2 + 250];
        if (!readAll(fd, answer, 7))
            return false;
        const int rest = (quint8(answer[4]) << 8 | quint8(answer[5])) - 1;
        if (rest < 0 || rest > int(sizeof answer) - 7 || !readAll(fd, answer + 7, size_t(rest)))
            return false;
        return answer[0] == request[0] && answer[1] == request[1] && answer[7] == 4 && rest == 2 + 250;
    }

    void run()
    {
        int fd = -1;
        quint16 transaction = 0;
        auto next = Clock::now();
        while (!m_stop) {
            if (fd < 0)
                fd = connectToServer();
            const auto sent = Clock::now();
            const bool read = fd >= 0 && readOnce(fd, ++transaction);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (read)
                    m_roundTrips.push_back(ms);
                else
                    ++m_failures;
            }
            if (!read && fd >= 0) {
                ::close(fd);
                fd = -1;
            }
            next += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(next);
        }
        if (fd >= 0)
            ::close(fd);
    }

    const quint16 m_port;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<double> m_roundTrips;
    int m_failures = 0;
};

// The window serving its room on a free loopback port, and four clients reading it.
struct ServedRoom
{
    const quint16 port = unusedPort();
    std::unique_ptr<WindowInFolder> folder;
    std::vector<std::unique_ptr<Poller>> pollers;

    QString status() const
    {
        return folder->window->statusNotices()->label(StatusNotices::ModbusTcp)->text();
    }

    bool start(benchmark::State& state, const QString& line = QString())
    {
        folder = std::make_unique<WindowInFolder>(serverSettings(port), QMap<QString, QByteArray>{}, line);
        if (!spin(5000, [&] { return status().contains(QStringLiteral("клиентов: 0")); })) {
            state.SkipWithError(("the server did not start: " + status()).toStdString().c_str());
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            pollers.push_back(std::make_unique<Poller>(port));
            pollers.back()->start();
        }
        if (!spin(5000, [&] { return status().contains(QStringLiteral("клиентов: 4")); })) {
            state.SkipWithError(("the clients did not connect: " + status()).toStdString().c_str());
            return false;
        }
        return true;
    }
    // Every round trip so far, all clients together.
    std::vector<double> roundTrips(int* failures)
    {
        std::vector<double> all;
        for (auto& poller : pollers) {
            const std::vector<double> some = poller->takeRoundTrips(failures);
            all.insert(all.end(), some.begin(), some.end());
        }
        return all;
    }
    ~ServedRoom()
    {
        for (auto& poller : pollers)
            poller->stop();
    }
};

double quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    const auto at = values.begin() + std::ptrdiff_t(std::lround(q * double(values.size() - 1)));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

void BM_RoundTrip125Registers(benchmark::State& state)
{
    const int seconds = secondsFrom("ORVIK_TCP_POLL_SECONDS", 15);
    ServedRoom room;
    if (!room.start(state))
        return;
    MainWindow* window = room.folder->window.get();
    window->setNativeRunning(true);
    int failures = 0;
    room.roundTrips(&failures); // the reads before the first sweep do not count
    failures = 0;
    for (auto _ : state) {
        for (int sweep = 0; sweep < seconds / 3; ++sweep) {
            window->dataArrivedHandler(sweepAt(13.4 + 0.01 * (sweep % 10)));
            idle(3000);
        }
        const std::vector<double> ms = room.roundTrips(&failures);
        if (ms.empty()) {
            state.SkipWithError("no read came back");
            break;
        }
        state.SetIterationTime(quantile(ms, 0.5) / 1000.0);
        state.counters["median_ms"] = quantile(ms, 0.5);
        state.counters["p99_ms"] = quantile(ms, 0.99);
        state.counters["max_ms"] = *std::max_element(ms.begin(), ms.end());
        state.counters["reads"] = double(ms.size());
        state.counters["failed_reads"] = failures;
    }
}
BENCHMARK(BM_RoundTrip125Registers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_HandOverWithServer(benchmark::State& state)
{
    ServedRoom room;
    if (!room.start(state))
        return;
    MainWindow* window = room.folder->window.get();
    window->setNativeRunning(true);
    window->dataArrivedHandler(sweepAt(13.5));
    for (auto _ : state)
        window->history()->takeSweep(window->rows());
    idle(200);
}
BENCHMARK(BM_HandOverWithServer)->Unit(benchmark::kMicrosecond)->Iterations(3000);

void BM_SweepPeriodWhileServing(benchmark::State& state)
{
    const int seconds = secondsFrom("ORVIK_TCP_SECONDS", 60);
    SimulatedLine line;
    if (!line.start(stormOptions())) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    ServedRoom room;
    if (!room.start(state, line.link()))
        return;
    MainWindow* window = room.folder->window.get();
    std::vector<qint64> sweeps;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(window->history(), &RoomFeed::sweepTaken, [&] { sweeps.push_back(clock.elapsed()); });
    window->show();
    window->form()->pb_stop_start->click();
    for (auto _ : state) {
        idle(seconds * 1000);
        if (!countSweepPeriods(state, sweeps, 0)) {
            state.SkipWithError("fewer than two sweeps");
            break;
        }
        int failures = 0;
        const std::vector<double> ms = room.roundTrips(&failures);
        state.counters["reads"] = double(ms.size());
        state.counters["read_p99_ms"] = quantile(ms, 0.99);
        state.counters["failed_reads"] = failures;
    }
    window->form()->pb_stop_start->click();
}
BENCHMARK(BM_SweepPeriodWhileServing)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    return runWithWidgets(argc, argv);
}
