#pragma once

#include "AnswerFrame.h"
#include "link/NativeFrame.h"

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// The far end of a pseudo-terminal pair playing the 16 native modules in a thread of its own;
// the near end is reached through a link, which reopen() points at a fresh pair.
class PtyPeer
{
public:
    enum Behaviour
    {
        Good,
        BadChecksum,
        WrongNumber,
        Silent,
        Vanish
    };
    std::atomic<int> behaviour[16] = {};
    std::atomic<int> sweep{0};                  // added to channel 0 (× 1000), so kept readings show
    std::atomic<int> pieceSize{32}, pauseMs{0}; // answers go out in pieces this far apart

    PtyPeer() { reopen(); }
    ~PtyPeer() { vanish(); }
    QString linkPath() const { return dir.filePath("line"); }
    bool hasVanished() const { return master < 0; }
    void vanish()
    {
        stopping = true;
        if (worker.joinable())
            worker.join();
        stopping = false;
        closePair();
    }
    bool reopen()
    {
        vanish();
        char name[128] = {};
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (::grantpt(master) || ::unlockpt(master) || ::ptsname_r(master, name, sizeof name))
            return false;
        // Held open, so the far end never reads a hang-up while the port is closed.
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        worker = std::thread(&PtyPeer::run, this);
        return QFile::link(name, linkPath());
    }

private:
    void closePair()
    {
        ::close(master);
        ::close(slave);
        master = slave = -1;
        // Pty numbers are handed out again at once: a stale link would lead to another test's line.
        QFile::remove(linkPath());
    }
    void run()
    {
        QByteArray window;
        char byte;
        while (!stopping) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0 || ::read(master, &byte, 1) != 1)
                continue;
            window = (window + byte).right(3);
            const int module =
                NativeFrame::requestedModule(reinterpret_cast<const std::uint8_t*>(window.constData()));
            if (window.size() < 3 || module < 0)
                continue;
            window.clear();
            const int b = behaviour[module];
            QByteArray answer = typicalAnswer(b == WrongNumber ? (module + 1) % 16 : module, 1000 * sweep);
            answer[31] = static_cast<char>(answer[31] + (b == BadChecksum ? 3 : 0));
            for (int at = 0; b != Silent && b != Vanish && at < 32; at += pieceSize) {
                std::this_thread::sleep_for(std::chrono::milliseconds(at ? pauseMs.load() : 0));
                if (::write(master, answer.constData() + at,
                            static_cast<size_t>(qMin<int>(pieceSize, 32 - at))) < 0)
                    break;
            }
            if (b == Vanish)
                return closePair();
        }
    }

    QTemporaryDir dir;
    std::atomic<int> master{-1}, slave{-1};
    std::thread worker;
    std::atomic<bool> stopping{false};
};
