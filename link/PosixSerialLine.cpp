#include "link/PosixSerialLine.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

constexpr unsigned kPtyMasterMajorFirst = 128; // UNIX98 masters 128..135, slaves 136..143
constexpr unsigned kPtyMajorLast = 143;
constexpr unsigned kBsdPtySlaveMajor = 3;
// Without a transmitter-empty flag to ask, the byte in the shift register gets this long.
constexpr auto kLastByteAllowance = std::chrono::milliseconds(1);
constexpr auto kDrainPollStep = std::chrono::microseconds(200);

timespec remainingUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    timespec ts{};
    if (left.count() > 0) {
        ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
    }
    return ts;
}
} // namespace

PosixSerialLine::~PosixSerialLine()
{
    close();
}

bool PosixSerialLine::isPseudoTerminalDevice(unsigned major)
{
    return (major >= kPtyMasterMajorFirst && major <= kPtyMajorLast) || major == kBsdPtySlaveMajor;
}

int PosixSerialLine::open(const QByteArray& path)
{
    if (fd >= 0)
        return EBUSY;
    // Non-blocking, so the open never waits for a carrier; reads and writes use poll().
    const int handle = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return errno;
    int error = 0;
    struct stat info
    {
    };
    if (!::isatty(handle))
        error = ENOTTY;
    else if (::ioctl(handle, TIOCEXCL) != 0)
        error = errno;
    else if (::fstat(handle, &info) != 0)
        error = errno;
    if (error != 0) {
        ::close(handle);
        return error;
    }
    fd = handle;
    pseudoTerminal = S_ISCHR(info.st_mode) && isPseudoTerminalDevice(major(info.st_rdev));
    return 0;
}

int PosixSerialLine::close()
{
    if (fd < 0)
        return 0;
    // Discarding what is still queued keeps close() from waiting on a stuck line.
    ::tcflush(fd, TCIOFLUSH);
    ::ioctl(fd, TIOCNXCL);
    const int result = ::close(fd);
    const int error = result == 0 || errno == EINTR ? 0 : errno;
    fd = -1;
    pseudoTerminal = false;
    return error;
}

int PosixSerialLine::getAttributes(termios& settings)
{
    return ::tcgetattr(fd, &settings) == 0 ? 0 : errno;
}

int PosixSerialLine::setAttributes(const termios& settings)
{
    int result;
    do
        result = ::tcsetattr(fd, TCSANOW, &settings);
    while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

int PosixSerialLine::setModemLinesOff()
{
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) == 0)
        return 0;
    return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}

int PosixSerialLine::drain(int timeoutMs)
{
    // tcdrain() has no time-out: a stuck adapter would hold the caller for ever.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
            return errno;
        if (queued == 0) {
            unsigned int status = 0;
            if (::ioctl(fd, TIOCSERGETLSR, &status) != 0) {
                std::this_thread::sleep_for(kLastByteAllowance);
                return 0;
            }
            if (status & TIOCSER_TEMT)
                return 0;
        }
        if (Clock::now() >= deadline)
            return ETIMEDOUT;
        std::this_thread::sleep_for(kDrainPollStep);
    }
}

int PosixSerialLine::write(const std::uint8_t* data, std::size_t count, int timeoutMs)
{
    if (fd < 0)
        return EBADF;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd, data + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        pollfd p{fd, POLLOUT, 0};
        const timespec left = remainingUntil(deadline);
        if (left.tv_sec == 0 && left.tv_nsec == 0)
            return ETIMEDOUT;
        const int ready = ::ppoll(&p, 1, &left, nullptr);
        if (ready < 0 && errno != EINTR)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return EIO;
    }
    return 0;
}

int PosixSerialLine::read(std::uint8_t* data, std::size_t count, int timeoutMs, std::size_t& received)
{
    received = 0;
    if (fd < 0)
        return EBADF;
    // Answers arrive in pieces: collect until all are there or the deadline passes.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received < count) {
        const timespec left = remainingUntil(deadline);
        if (left.tv_sec == 0 && left.tv_nsec == 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::ppoll(&p, 1, &left, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (ready == 0)
            break;
        if (p.revents & POLLNVAL)
            return EBADF;
        const ssize_t n = ::read(fd, data + received, count - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            continue;
        }
        // End of file on a tty means the line has hung up: the device is gone.
        if (n == 0)
            return EIO;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return errno;
        if (p.revents & (POLLERR | POLLHUP))
            return EIO;
    }
    return 0;
}

int PosixSerialLine::discardInput()
{
    if (fd < 0)
        return EBADF;
    return ::tcflush(fd, TCIFLUSH) == 0 ? 0 : errno;
}

void PosixSerialLine::pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
