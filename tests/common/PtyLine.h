#pragma once

#include <QString>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

// A bare pseudo-terminal pair: the program opens the near end by its path, nothing ever
// answers on the far end.
class PtyLine
{
public:
    PtyLine()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            nearEnd = QString::fromLocal8Bit(::ptsname(master));
    }
    ~PtyLine() { hangUp(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool isReady() const { return !nearEnd.isEmpty(); }
    QString path() const { return nearEnd; }
    int farEnd() const { return master; }
    // The line vanishes: the near end's reads and writes fail, its device node goes.
    void hangUp()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // No one but root may open the near end any more.
    bool denyAccess() const { return ::chmod(nearEnd.toLocal8Bit().constData(), 0) == 0; }

private:
    int master = -1;
    QString nearEnd;
};

// A port that does not open: "pty" stands for a line only root may open, anything else for
// itself. `text` names the port as %1.
inline QString unopenablePort(const QString& name, const PtyLine& line, QString* text)
{
    const QString port = name == "pty" && line.isReady() && line.denyAccess() ? line.path() : name;
    if (text->contains("%1"))
        *text = text->arg(port);
    return port;
}

// While alive, the calling thread meets file permissions as the user "nobody" does; other
// threads keep theirs. Root otherwise opens every device whatever its rights; a test run by
// an ordinary user is held to the rights already.
class AccessAsNobody
{
public:
    AccessAsNobody() : previousGroup(::setfsgid(kNobody)), previousUser(::setfsuid(kNobody)) {}
    ~AccessAsNobody()
    {
        ::setfsuid(previousUser);
        ::setfsgid(previousGroup);
    }
    AccessAsNobody(const AccessAsNobody&) = delete;
    AccessAsNobody& operator=(const AccessAsNobody&) = delete;

private:
    static constexpr unsigned kNobody = 65534;
    int previousGroup;
    int previousUser;
};
