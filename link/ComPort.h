#pragma once

#include "link/SerialLine.h"

#include <QMutex>
#include <QString>
#include <cstdint>
#include <memory>

// One serial port of the native exchange. The modules are addressed with the ninth bit:
// the first byte of a request goes out with the parity bit forced to 1 (mark), the others
// with it forced to 0 (space), and answers are read without parity checking.
//
// The GUI thread opens and closes the port while the polling worker writes and reads it:
// every public operation holds the object's lock for its whole duration.
class ComPort
{
public:
    enum Parity : std::uint32_t
    {
        EvenParity = 2,
        MarkParity = 3,
        SpaceParity = 4
    };

    static constexpr int readTimeoutMs = 120;
    static constexpr int writeTimeoutPerByteMs = 5;
    static constexpr int addressPauseMs = 20;
    static constexpr int parityAttempts = 10;
    // Bytes before a parity change must have left; a line that does not empty in this
    // time counts as a failed change.
    static constexpr int drainTimeoutMs = 50;

    // name is a device name under /dev (ttyS0) or a full path (/dev/pts/3). Without a line
    // the port uses the system's tty devices.
    ComPort(const QString& name, std::uint32_t baudRate, std::unique_ptr<SerialLine> line = {});
    ~ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    bool open();
    // Puts back the settings found at open. With force the port counts as closed (and its
    // device is released) even when that fails.
    bool close(bool force);
    bool isOpen();
    // Collects up to count bytes within the read time-out; fewer (or none) is still success.
    bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& bytesRead);
    // Sends byte 0 in mark parity, pauses, then every further byte alone in space parity.
    // A failed byte closes and reopens the port. A count of 0 sends nothing and fails.
    bool write(const std::uint8_t* buffer, std::uint32_t count);
    // Drops whatever arrived and was not read: a late answer or noise left over from the
    // previous exchange. A line that fails here fails the next write as well.
    void discardInput();
    // As discardInput, after the line has carried nothing for quietMs (at most maxMs in all):
    // the rest of a garbled answer may still be on its way.
    void discardUntilQuiet(int quietMs = quietGapMs, int maxMs = quietWaitMaxMs);
    static constexpr int quietGapMs = 15;
    static constexpr int quietWaitMaxMs = 150;
    // errno-style code of the last failed step, 0 when none; reading it clears it.
    std::uint32_t lastError();
    QString portName();

    static QString pathFor(const QString& name);

private:
    bool rawOpen();
    bool rawClose();
    bool setParityChecking(bool on);
    bool setParity(Parity parity);
    int applyLineSettings(const termios& wanted);
    void writeFailed(int error);

    termios m_savedLineSettings{};
    termios m_lineSettings{};
    termios m_appliedSettings{};
    std::uint32_t m_baudRate;
    bool m_isOpen = false;
    bool m_pseudoTerminal = false;
    QString m_path;
    std::unique_ptr<SerialLine> m_line;
    std::uint32_t m_lastError = 0;
    QMutex m_lock;
};
