#pragma once

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <unistd.h>

// A generator seeded at random, the seed logged so that a failing run can be told apart.
inline QRandomGenerator loggedRandom()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("seed %u", seed);
    return QRandomGenerator(seed);
}

// A child's report, written at once: a kill right after it must not take it back.
inline void reportLine(const QByteArray& line)
{
    if (::write(STDOUT_FILENO, line.constData(), size_t(line.size())) != line.size())
        ::_exit(3);
}

// This program with `arguments` SIGKILLed at a random moment, mostly after its first output (every
// fifth round while it starts); the whole lines it printed, false when it did not start or end.
inline bool killAtRandomMoment(const QStringList& arguments, int round, QRandomGenerator& random,
                               QList<QByteArray>* lines)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForStarted(10000) || (round % 5 != 4 && !child.waitForReadyRead(30000)))
        return false;
    QThread::msleep(random.bounded(200));
    ::kill(pid_t(child.processId()), SIGKILL);
    if (!child.waitForFinished(10000))
        return false;
    const QByteArray output = child.readAllStandardOutput();
    *lines = output.left(output.lastIndexOf('\n') + 1).split('\n');
    lines->removeAll(QByteArray());
    return true;
}
