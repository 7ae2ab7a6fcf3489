#pragma once

#include "link/SerialLine.h"

#include <QMap>
#include <QMutex>
#include <QStringList>
#include <functional>

// A line that records every operation as a short text and fails where a test says.
// Settings are written as their parity ("even", "mark", "space", "none") with " inpck"
// when parity checking is on, and " @9600" for anything but 19200 baud.
class RecordingLine : public SerialLine
{
public:
    // Return an errno code to make the n-th call (from 1) of an operation fail, 0 to let it
    // pass. The operation is named as in the log ("set mark inpck", "write 81", "open").
    std::function<int(const QString& operation, int n)> failure;
    // Changes what a read-back returns, as a driver that drops bits would.
    std::function<void(termios&)> driverAdjusts;
    bool pseudoTerminal = false;
    int readDelayMs = 0;
    QByteArray pendingInput;

    QStringList log();
    void clearLog();
    static QString describe(const termios& t);

    int open(const QByteArray& path) override;
    int close() override;
    bool isPseudoTerminal() const override { return pseudoTerminal; }
    int getAttributes(termios& settings) override;
    int setAttributes(const termios& settings) override;
    int setModemLinesOff() override;
    int drain(int timeoutMs) override;
    int write(const std::uint8_t* data, std::size_t count, int timeoutMs) override;
    int read(std::uint8_t* data, std::size_t count, int timeoutMs, std::size_t& received) override;
    int discardInput() override;
    void pause(int ms) override;

private:
    int record(const QString& operation);

    QMutex mutex;
    QStringList entries;
    QMap<QString, int> calls;
    termios current{};
    bool initialised = false;
};
