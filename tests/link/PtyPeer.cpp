#include "PtyPeer.h"

#include "link/NativeFrame.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    if (openPair())
        worker = std::thread(&PtyPeer::run, this);
}

PtyPeer::~PtyPeer()
{
    stopThread();
    closePair();
}

bool PtyPeer::openPair()
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return false;
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0)
        return false;
    slave = QString::fromLocal8Bit(name);
    // Held open so that the master never reads a hang-up while the port is closed.
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd < 0)
        return false;
    termios t{};
    ::tcgetattr(slaveFd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slaveFd, TCSANOW, &t);
    const QString link = linkPath();
    QFile::remove(link);
    return QFile::link(slave, link);
}

void PtyPeer::closePair()
{
    if (master >= 0)
        ::close(master);
    if (slaveFd >= 0)
        ::close(slaveFd);
    master = slaveFd = -1;
    // The freed pty number is reused at once by other tests; a stale link would lead there.
    QFile::remove(linkPath());
}

void PtyPeer::stopThread()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    stopping = false;
}

bool PtyPeer::reopen()
{
    stopThread();
    closePair();
    window.clear();
    vanished = false;
    if (!openPair())
        return false;
    worker = std::thread(&PtyPeer::run, this);
    return true;
}

void PtyPeer::vanishNow()
{
    stopThread();
    closePair();
    vanished = true;
}

void PtyPeer::setResponder(Responder r)
{
    std::lock_guard<std::mutex> lock(mutex);
    responder = std::move(r);
}

void PtyPeer::setChunking(int bytes, int pauseMs)
{
    std::lock_guard<std::mutex> lock(mutex);
    chunkBytes = bytes;
    chunkPauseMs = pauseMs;
}

void PtyPeer::vanishAtRequest(int n, bool answerFirst)
{
    std::lock_guard<std::mutex> lock(mutex);
    vanishAt = n;
    answerBeforeVanish = answerFirst;
}

QByteArray PtyPeer::received()
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

void PtyPeer::resetCounters()
{
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
    requests = 0;
}

void PtyPeer::send(const QByteArray& bytes)
{
    int pieceSize;
    int pauseMs;
    {
        std::lock_guard<std::mutex> lock(mutex);
        pieceSize = chunkBytes > 0 ? chunkBytes : bytes.size();
        pauseMs = chunkPauseMs;
    }
    for (int offset = 0; offset < bytes.size(); offset += pieceSize) {
        if (offset > 0 && pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        const QByteArray piece = bytes.mid(offset, pieceSize);
        if (::write(master, piece.constData(), static_cast<size_t>(piece.size())) < 0)
            return;
    }
}

void PtyPeer::answer(int module)
{
    Responder r;
    {
        std::lock_guard<std::mutex> lock(mutex);
        r = responder;
    }
    const QByteArray bytes = r ? r(module) : QByteArray();
    if (!bytes.isEmpty())
        send(bytes);
}

void PtyPeer::run()
{
    while (!stopping) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0)
            continue;
        unsigned char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        for (ssize_t i = 0; i < n; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                log.append(static_cast<char>(buffer[i]));
            }
            window.append(static_cast<char>(buffer[i]));
            if (window.size() > 3)
                window.remove(0, window.size() - 3);
            if (window.size() < 3)
                continue;
            const int module =
                NativeFrame::requestedModule(reinterpret_cast<const std::uint8_t*>(window.constData()));
            if (module < 0)
                continue;
            window.clear();
            const int number = ++requests;
            bool vanish;
            bool answerFirst;
            {
                std::lock_guard<std::mutex> lock(mutex);
                vanish = vanishAt == number;
                answerFirst = answerBeforeVanish;
            }
            if (!vanish || answerFirst)
                answer(module);
            if (vanish) {
                // A hang-up discards what the near end has not read yet: let it take the answer.
                if (answerFirst)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                // Closing both ends from here makes the line vanish under the port.
                closePair();
                vanished = true;
                return;
            }
        }
    }
}
