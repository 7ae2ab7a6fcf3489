#include "ModbusPtyPeer.h"

#include "link/ModbusMaster.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kRegisters = 262;
constexpr int kFirstVoltage = 3;
constexpr int kFirstTemperature = 131;

QByteArray withCrc(QByteArray frame)
{
    const uint16_t crc =
        modbusCrc16(reinterpret_cast<const uint8_t*>(frame.constData()), uint16_t(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

ModbusPtyPeer::ModbusPtyPeer()
{
    startedAt = nowMs();
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        master = -1;
        return;
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        master = -1;
        return;
    }
    slavePath = QString::fromLocal8Bit(name);
    // Held open so that the line survives the monitor closing and reopening its port.
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    ::tcgetattr(slaveFd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slaveFd, TCSANOW, &t);
    worker = std::thread(&ModbusPtyPeer::run, this);
}

ModbusPtyPeer::~ModbusPtyPeer()
{
    vanish();
}

qint64 ModbusPtyPeer::nowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() - startedAt;
}

void ModbusPtyPeer::addDevice(int slave)
{
    QVector<quint16> table(kRegisters, 0);
    for (int c = 0; c < 128; ++c) {
        table[kFirstVoltage + c] = quint16(1250 + (slave * 7 + c) % 9);
        table[kFirstTemperature + c] = quint16(240 + (slave * 3 + c) % 7);
    }
    std::lock_guard<std::mutex> lock(mutex);
    tables[slave] = table;
}

void ModbusPtyPeer::setChannel(int slave, int channel, quint16 voltageRaw, quint16 temperatureRaw)
{
    std::lock_guard<std::mutex> lock(mutex);
    QVector<quint16>& table = tables[slave];
    table.resize(kRegisters);
    table[kFirstVoltage + channel] = voltageRaw;
    table[kFirstTemperature + channel] = temperatureRaw;
}

quint16 ModbusPtyPeer::reg(int slave, int address) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return tables.value(slave).value(address);
}

void ModbusPtyPeer::script(int slave, const QList<Shape>& shapes)
{
    std::lock_guard<std::mutex> lock(mutex);
    scripts[slave] = shapes;
}

void ModbusPtyPeer::setStanding(int slave, Shape shape)
{
    std::lock_guard<std::mutex> lock(mutex);
    standing[slave] = shape;
}

void ModbusPtyPeer::vanish()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    if (master >= 0)
        ::close(master);
    if (slaveFd >= 0)
        ::close(slaveFd);
    master = slaveFd = -1;
}

QList<ModbusPtyPeer::Request> ModbusPtyPeer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

QList<ModbusPtyPeer::Request> ModbusPtyPeer::requestsTo(int slave) const
{
    QList<Request> result;
    for (const Request& r : requests())
        if (r.slave == slave)
            result.append(r);
    return result;
}

void ModbusPtyPeer::clearRequests()
{
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
}

void ModbusPtyPeer::run()
{
    while (!stopping) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
            continue;
        char buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        window.append(buffer, int(n));
        // A request is eight bytes whose CRC holds; anything else is skipped byte by byte.
        while (window.size() >= 8) {
            const QByteArray candidate = window.left(8);
            const auto* bytes = reinterpret_cast<const uint8_t*>(candidate.constData());
            if (bytes[1] == 3 && modbusCrc16(bytes, 6) == uint16_t(bytes[6] | bytes[7] << 8)) {
                window.remove(0, 8);
                handle(candidate, nowMs());
            } else {
                window.remove(0, 1);
            }
        }
    }
}

void ModbusPtyPeer::handle(const QByteArray& request, qint64 atMs)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(request.constData());
    const int slave = bytes[0];
    const int start = bytes[2] << 8 | bytes[3];
    const int count = bytes[4] << 8 | bytes[5];
    Shape shape;
    QVector<quint16> table;
    {
        std::lock_guard<std::mutex> lock(mutex);
        log.append({request, slave, start, count, atMs});
        if (!tables.contains(slave))
            return;
        table = tables.value(slave);
        QList<Shape>& pending = scripts[slave];
        shape = pending.isEmpty() ? standing.value(slave) : pending.takeFirst();
    }
    if (shape.fault == Fault::Silent)
        return;

    QByteArray answer;
    answer.append(char(slave));
    if (shape.fault == Fault::Exception) {
        answer.append(char(0x83));
        answer.append(char(2));
    } else {
        answer.append(char(3));
        answer.append(char(2 * count));
        for (int i = 0; i < count; ++i) {
            const quint16 value = start + i < table.size() ? table.at(start + i) : 0;
            answer.append(char(value >> 8));
            answer.append(char(value & 0xFF));
        }
    }
    if (shape.fault == Fault::WrongSlave)
        answer[0] = char(slave % 247 + 1);
    answer = withCrc(answer);

    switch (shape.fault) {
    case Fault::BadCrc:
        answer[answer.size() - 1] = char(answer.at(answer.size() - 1) ^ 0xA5);
        break;
    case Fault::Longer:
        answer.append(QByteArray(shape.param, char(0x5A)));
        break;
    case Fault::Late:
        sleepMs(shape.param);
        break;
    case Fault::Echo:
        answer.prepend(request);
        break;
    case Fault::Garbage:
        answer.prepend(QByteArray(shape.param, char(0xC3)));
        break;
    default:
        break;
    }
    if (shape.fault == Fault::Split && shape.param > 1) {
        const int pieces = shape.param;
        int from = 0;
        for (int k = 1; k <= pieces; ++k) {
            const int to = answer.size() * k / pieces;
            writeAll(answer.mid(from, to - from));
            from = to;
            if (k < pieces)
                sleepMs(30);
        }
        return;
    }
    writeAll(answer);
}

void ModbusPtyPeer::writeAll(const QByteArray& bytes)
{
    // Paced like the wire: eleven bits a byte at 19200 baud, handed over 16 bytes at a time.
    using namespace std::chrono;
    constexpr int kPiece = 16;
    const auto byteTime = duration<double, std::micro>(11.0 * 1e6 / 19200.0);
    const auto start = steady_clock::now();
    int done = 0;
    while (done < bytes.size() && !stopping) {
        const int piece = std::min(kPiece, int(bytes.size()) - done);
        std::this_thread::sleep_until(start +
                                      duration_cast<steady_clock::duration>(byteTime * (done + piece)));
        const ssize_t n = ::write(master, bytes.constData() + done, size_t(piece));
        if (n <= 0)
            return;
        done += int(n);
    }
}
