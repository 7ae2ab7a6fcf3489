#pragma once

#include "link/ModbusMaster.h"
#include "link/ModbusPollList.h"

#include <QByteArray>
#include <QVector>

// What the cycle asks of the owner of the line and of the single-shot timer.
struct ModbusCycleStep
{
    enum Kind
    {
        Wait,          // nothing but the timer
        Send,          // write `request`
        Paused,        // no group to poll
        DeviceSilent,  // the device of `group` at `address` gave no accepted answer
        TableComplete, // the register table of `group`'s device is read in full
        TurnDone,      // the turn of `group` is over
    };
    Kind kind = Wait;
    int waitMs = -1;    // the timer again after this long; -1: leave it as it is
    QByteArray request; // empty when the codec refused the address: nothing goes out
    int group = 0;
    int address = -1;
    bool turnStarts = false; // the poll list was consulted for the device of a new turn
};

// The Modbus RTU master cycle's decisions, without I/O and without a clock of its own: which
// device is asked next, what is sent and when it is sent again, when an answer is complete or
// rejected, when a device is silent. Each polled group's device is read in three requests,
// the next request goes out as soon as an answer is accepted.
class ModbusCycle
{
public:
    // A new cycle from group 1's device.
    void start();
    // The timer fired at `now` (ms); `list` is what is to be polled now, `lineOpen` whether a
    // request can go out.
    ModbusCycleStep timerFired(qint64 now, const QVector<ModbusPollEntry>& list, bool lineOpen);
    ModbusCycleStep bytesArrived(const QByteArray& bytes);
    // Voltages of channels 0..127, their temperatures, then what the device holds after them;
    // complete when TableComplete is reported.
    const QVector<quint16>& table() const { return registers; }

private:
    bool takeTurnDevice(const QVector<ModbusPollEntry>& list);
    ModbusCycleStep endOfDevice(ModbusCycleStep::Kind kind);
    bool canStartAnswer(const char* bytes, int size) const;

    ModbusMasterState state{};
    QByteArray answer;
    QVector<quint16> registers;
    int registerFill = 0;
    int stage = 0;
    int lastSentStage = 0;
    int repeatCount = 0;
    // The group whose device is asked (1..6) and the address it is asked at.
    int device = 1;
    int address = -1;
    // A request was sent and neither answered nor timed out: only then are bytes judged.
    bool answerAwaited = false;
    // When the current request was last sent, and its first send that timed out (-1: none):
    // a late answer to it may still be followed by the answers to the later sends.
    qint64 lastSendAt = 0;
    qint64 firstOwedSendAt = -1;
};
