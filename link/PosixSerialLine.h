#pragma once

#include "link/SerialLine.h"

// SerialLine on a Linux tty device: non-blocking descriptor, poll() against deadlines.
class PosixSerialLine : public SerialLine
{
public:
    PosixSerialLine() = default;
    ~PosixSerialLine() override;
    PosixSerialLine(const PosixSerialLine&) = delete;
    PosixSerialLine& operator=(const PosixSerialLine&) = delete;

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

    // Device numbers of pseudo-terminals: UNIX98 masters and slaves, and the legacy BSD slaves.
    static bool isPseudoTerminalDevice(unsigned major);

private:
    int fd = -1;
    bool pseudoTerminal = false;
};
