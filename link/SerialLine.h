#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <termios.h>

// The line operations a ComPort needs from the system, each returning 0 or an errno code.
// The port goes through this interface only, so a test can record and script every step.
class SerialLine
{
public:
    virtual ~SerialLine() = default;

    // Opens the device for reading and writing, exclusively, without making it the
    // controlling terminal.
    virtual int open(const QByteArray& path) = 0;
    // Releases the device; pending input and output are discarded.
    virtual int close() = 0;
    // True when the open device is a pseudo-terminal, judged by its device number alone.
    virtual bool isPseudoTerminal() const = 0;

    virtual int getAttributes(termios& settings) = 0;
    // Puts the settings in force at once (no waiting for output).
    virtual int setAttributes(const termios& settings) = 0;
    // Holds DTR and RTS off; a line without modem control lines has nothing to do.
    virtual int setModemLinesOff() = 0;
    // Waits until every byte written has left the line, but no longer than timeoutMs.
    virtual int drain(int timeoutMs) = 0;

    // Sends all count bytes within timeoutMs or fails.
    virtual int write(const std::uint8_t* data, std::size_t count, int timeoutMs) = 0;
    // Collects bytes until count have arrived or timeoutMs has passed since the call;
    // received tells how many arrived, also on failure.
    virtual int read(std::uint8_t* data, std::size_t count, int timeoutMs, std::size_t& received) = 0;

    // Throws away bytes received and not yet read.
    virtual int discardInput() = 0;

    virtual void pause(int ms) = 0;
};
