#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>
#include <atomic>
#include <mutex>
#include <thread>

// The device end of a pseudo-terminal pair, run in a thread of its own: Modbus devices that
// answer function-3 requests from their register tables, each answer shaped by a scripted
// fault. The near end's path is what the monitor's port selector names.
class ModbusPtyPeer
{
public:
    enum class Fault
    {
        None,
        Silent,
        Exception, // a 5-byte exception answer, code 2
        BadCrc,
        Split,      // the answer in `param` pieces, 30 ms apart
        Longer,     // `param` extra bytes after the answer
        Late,       // the answer `param` ms after the request
        Echo,       // the request handed back before the answer
        Garbage,    // `param` bytes of noise before the answer
        WrongSlave, // another device's address in the answer
    };
    struct Shape
    {
        Fault fault = Fault::None;
        int param = 0;
    };
    struct Request
    {
        QByteArray bytes;
        int slave;
        int start;
        int count;
        qint64 atMs; // since the peer started
    };

    ModbusPtyPeer();
    ~ModbusPtyPeer();
    ModbusPtyPeer(const ModbusPtyPeer&) = delete;
    ModbusPtyPeer& operator=(const ModbusPtyPeer&) = delete;

    bool isReady() const { return master >= 0; }
    QString path() const { return slavePath; }

    // A device at this address with 128 plausible channels: 12.xx V and 2x.x °C.
    void addDevice(int slave);
    void setChannel(int slave, int channel, quint16 voltageRaw, quint16 temperatureRaw);
    quint16 reg(int slave, int address) const;
    // Shapes for the next answers of a device, one per request; afterwards `standing`.
    void script(int slave, const QList<Shape>& shapes);
    void setStanding(int slave, Shape shape);
    // The line goes away as an unplugged adapter does.
    void vanish();

    QList<Request> requests() const;
    QList<Request> requestsTo(int slave) const;
    void clearRequests();

private:
    void run();
    void handle(const QByteArray& request, qint64 atMs);
    void writeAll(const QByteArray& bytes);
    qint64 nowMs() const;

    int master = -1;
    int slaveFd = -1;
    QString slavePath;
    std::thread worker;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    QMap<int, QVector<quint16>> tables;
    QMap<int, QList<Shape>> scripts;
    QMap<int, Shape> standing;
    QList<Request> log;
    QByteArray window;
    qint64 startedAt = 0;
};
