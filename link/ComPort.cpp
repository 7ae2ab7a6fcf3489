#include "link/ComPort.h"

#include "link/PosixSerialLine.h"

#include <QFile>
#include <QMutexLocker>
#include <cerrno>

namespace {
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
// The parts of the settings a driver must keep as given; anything else it may adjust.
constexpr tcflag_t kCheckedControlBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
constexpr tcflag_t kCheckedInputBits = INPCK | IXON | IXOFF | IXANY;

speed_t speedFor(std::uint32_t baudRate)
{
    switch (baudRate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

void setParityBits(termios& settings, ComPort::Parity parity)
{
    settings.c_cflag &= ~kParityBits;
    switch (parity) {
    case ComPort::EvenParity:
        settings.c_cflag |= PARENB;
        break;
    case ComPort::MarkParity:
        settings.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case ComPort::SpaceParity:
        settings.c_cflag |= PARENB | CMSPAR;
        break;
    }
}

bool hasParity(const termios& settings, ComPort::Parity parity)
{
    termios expected = settings;
    setParityBits(expected, parity);
    return (expected.c_cflag & kParityBits) == (settings.c_cflag & kParityBits);
}

bool sameLine(const termios& a, const termios& b, tcflag_t controlBits)
{
    return (a.c_cflag & controlBits) == (b.c_cflag & controlBits) &&
           (a.c_iflag & kCheckedInputBits) == (b.c_iflag & kCheckedInputBits) &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}
} // namespace

ComPort::ComPort(const QString& name, std::uint32_t baudRate, std::unique_ptr<SerialLine> line)
    : m_baudRate(baudRate), m_path(pathFor(name)), m_line(std::move(line))
{
    if (!m_line)
        m_line = std::make_unique<PosixSerialLine>();
}

ComPort::~ComPort()
{
    close(false);
    // A port whose settings could not be put back is still let go of.
    QMutexLocker locker(&m_lock);
    if (m_isOpen)
        m_line->close();
}

QString ComPort::pathFor(const QString& name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

bool ComPort::open()
{
    QMutexLocker locker(&m_lock);
    m_lastError = 0;
    if (m_isOpen)
        return false;
    return rawOpen();
}

bool ComPort::rawOpen()
{
    int error = m_line->open(QFile::encodeName(m_path));
    if (error != 0) {
        m_lastError = static_cast<std::uint32_t>(error);
        return false;
    }
    m_pseudoTerminal = m_line->isPseudoTerminal();

    error = m_line->getAttributes(m_savedLineSettings);
    const bool haveSavedSettings = error == 0;
    if (haveSavedSettings) {
        termios settings = m_savedLineSettings;
        cfmakeraw(&settings);
        settings.c_cflag &= ~(CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        settings.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
        setParityBits(settings, EvenParity);
        // Reads wait in poll(); a read call itself returns what is there.
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        const speed_t speed = speedFor(m_baudRate);
        if (speed == B0)
            error = EINVAL;
        else if (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0)
            error = errno;
        // What is in force is unknown until the first apply.
        m_appliedSettings = m_savedLineSettings;
        if (error == 0)
            error = applyLineSettings(settings);
        if (error == 0)
            m_lineSettings = settings;
    }
    if (error == 0)
        error = m_line->setModemLinesOff();
    if (error != 0) {
        m_lastError = static_cast<std::uint32_t>(error);
        if (haveSavedSettings)
            m_line->setAttributes(m_savedLineSettings);
        m_line->close();
        return false;
    }
    m_isOpen = true;
    return true;
}

bool ComPort::close(bool force)
{
    QMutexLocker locker(&m_lock);
    if (m_isOpen && rawClose())
        return true;
    if (!force)
        return false;
    // Forced: the object counts as closed, so the device must not stay held by it.
    if (m_isOpen)
        m_line->close();
    m_isOpen = false;
    return true;
}

bool ComPort::rawClose()
{
    int error = m_line->setAttributes(m_savedLineSettings);
    if (error == 0)
        error = m_line->close();
    if (error != 0) {
        m_lastError = static_cast<std::uint32_t>(error);
        return false;
    }
    m_isOpen = false;
    return true;
}

bool ComPort::isOpen()
{
    QMutexLocker locker(&m_lock);
    return m_isOpen;
}

std::uint32_t ComPort::lastError()
{
    QMutexLocker locker(&m_lock);
    const std::uint32_t error = m_lastError;
    m_lastError = 0;
    return error;
}

QString ComPort::portName()
{
    QMutexLocker locker(&m_lock);
    return m_path;
}

int ComPort::applyLineSettings(const termios& wanted)
{
    termios toApply = wanted;
    tcflag_t checked = kCheckedControlBits;
    if (m_pseudoTerminal) {
        // The one place a pseudo-terminal is allowed for. It carries bytes only: the kernel
        // drops the parity bits, so nothing about parity is sent, held or checked, and a
        // parity change leaves the line untouched. The flag comes from the device number of
        // a pty, which a UART never has.
        toApply.c_cflag &= ~kParityBits;
        toApply.c_iflag &= ~INPCK;
        checked &= ~kParityBits;
        if (sameLine(toApply, m_appliedSettings, checked))
            return 0;
    }
    // The bytes before a change must be on the wire in the framing they were written with.
    int error = m_line->drain(drainTimeoutMs);
    if (error == 0)
        error = m_line->setAttributes(toApply);
    if (error != 0)
        return error;
    // Some drivers drop CMSPAR and still report success: only the settings read back count.
    termios inForce{};
    error = m_line->getAttributes(inForce);
    if (error != 0)
        return error;
    m_appliedSettings = inForce;
    return sameLine(toApply, inForce, checked) ? 0 : ENOTSUP;
}

bool ComPort::setParityChecking(bool on)
{
    const tcflag_t previous = m_lineSettings.c_iflag;
    if (on)
        m_lineSettings.c_iflag |= INPCK;
    else
        m_lineSettings.c_iflag &= ~INPCK;
    const int error = applyLineSettings(m_lineSettings);
    if (error == 0)
        return true;
    m_lineSettings.c_iflag = previous;
    m_lastError = static_cast<std::uint32_t>(error);
    return false;
}

bool ComPort::setParity(Parity parity)
{
    if (hasParity(m_lineSettings, parity))
        return true;
    const tcflag_t previous = m_lineSettings.c_cflag;
    setParityBits(m_lineSettings, parity);
    int error = 0;
    for (int attempt = 0; attempt < parityAttempts; ++attempt) {
        error = applyLineSettings(m_lineSettings);
        if (error == 0)
            return true;
    }
    m_lineSettings.c_cflag = previous;
    m_lastError = static_cast<std::uint32_t>(error);
    return false;
}

void ComPort::discardInput()
{
    QMutexLocker locker(&m_lock);
    if (m_isOpen)
        m_line->discardInput();
}

void ComPort::discardUntilQuiet(int quietMs, int maxMs)
{
    QMutexLocker locker(&m_lock);
    if (!m_isOpen)
        return;
    std::uint8_t scratch[256];
    for (int waited = 0; waited < maxMs; waited += quietMs) {
        std::size_t received = 0;
        if (m_line->read(scratch, sizeof scratch, quietMs, received) != 0 || received == 0)
            break;
    }
    m_line->discardInput();
}

bool ComPort::write(const std::uint8_t* buffer, std::uint32_t count)
{
    QMutexLocker locker(&m_lock);
    if (count == 0 || buffer == nullptr) {
        m_lastError = EINVAL;
        return false;
    }
    if (!m_isOpen) {
        m_lastError = EBADF;
        return false;
    }
    if (!setParityChecking(true) || !setParity(MarkParity))
        return false;
    int error = m_line->write(buffer, 1, writeTimeoutPerByteMs);
    if (error != 0) {
        writeFailed(error);
        return false;
    }
    m_line->pause(addressPauseMs);
    if (!setParity(SpaceParity))
        return false;
    for (std::uint32_t i = 1; i < count; ++i) {
        error = m_line->write(buffer + i, 1, writeTimeoutPerByteMs);
        if (error != 0) {
            writeFailed(error);
            return false;
        }
    }
    return true;
}

void ComPort::writeFailed(int error)
{
    const auto code = static_cast<std::uint32_t>(error);
    if (!rawClose()) {
        if (code != 0)
            m_lastError = code;
        return;
    }
    if (rawOpen()) {
        // The reopened port is ready again: nothing is left for the caller to act on.
        m_lastError = 0;
    } else if (code != 0) {
        m_lastError = code;
    }
}

bool ComPort::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& bytesRead)
{
    QMutexLocker locker(&m_lock);
    bytesRead = 0;
    if (!m_isOpen) {
        m_lastError = EBADF;
        return false;
    }
    if (!setParityChecking(false))
        return false;
    std::size_t received = 0;
    const int error = m_line->read(buffer, count, readTimeoutMs, received);
    bytesRead = static_cast<std::uint32_t>(received);
    if (error != 0) {
        m_lastError = static_cast<std::uint32_t>(error);
        return false;
    }
    return true;
}
