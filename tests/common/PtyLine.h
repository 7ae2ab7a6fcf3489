#pragma once

#include <QString>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

// A pseudo-terminal pair: the program opens the near end by its path.
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
    void hangUp() // the near end's reads and writes fail from now on
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

private:
    int master = -1;
    QString nearEnd;
};

// "pty" stands for a line only root may open, anything else for itself; `text` names it as %1.
inline QString unopenablePort(const QString& name, const PtyLine& line, QString* text)
{
    const bool pty =
        name == "pty" && line.isReady() && ::chmod(line.path().toLocal8Bit().constData(), 0) == 0;
    const QString port = pty ? line.path() : name;
    if (text->contains("%1"))
        *text = text->arg(port);
    return port;
}

// While alive, this thread meets file permissions as "nobody" does, so root is held to them too.
class AccessAsNobody
{
public:
    AccessAsNobody() : previousGroup(::setfsgid(65534)), previousUser(::setfsuid(65534)) {}
    ~AccessAsNobody()
    {
        ::setfsuid(previousUser);
        ::setfsgid(previousGroup);
    }

private:
    int previousGroup, previousUser;
};
