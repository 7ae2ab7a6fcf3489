#pragma once

#include <QLockFile>
#include <QString>

// One monitor a working folder: two would share one journal and one history file.
// The lock file sits beside settings.xml; a lock left by a crashed monitor is taken over.
class InstanceLock
{
public:
    explicit InstanceLock(const QString& folder);

    enum class Result
    {
        Taken,
        HeldByAnother,
        Unavailable
    };
    // Unavailable: the folder takes no lock file (read-only, say); the monitor runs unlocked.
    Result take();

    // What the operator is told when another monitor holds the folder.
    static QString heldMessage(const QString& folder);
    static const char* fileName() { return "orvik-monitor.lock"; }

private:
    QString m_folder;
    QLockFile m_lock;
};
