#include "app/InstanceLock.h"

#include <QCoreApplication>
#include <QDir>

InstanceLock::InstanceLock(const QString& folder)
    : m_folder(folder), m_lock(QDir(folder).filePath(QLatin1String(fileName())))
{
    // A live monitor holds the folder however long it runs; only a dead one's lock is stale.
    m_lock.setStaleLockTime(0);
}

InstanceLock::Result InstanceLock::take()
{
    if (m_lock.tryLock(0))
        return Result::Taken;
    return m_lock.error() == QLockFile::LockFailedError ? Result::HeldByAnother : Result::Unavailable;
}

QString InstanceLock::heldMessage(const QString& folder)
{
    return QCoreApplication::translate("InstanceLock", "Монитор уже запущен в этой папке: ") +
           QDir::toNativeSeparators(folder);
}
