#include "link/WorkerObject.h"

#include "link/ComPort.h"
#include "link/NativeFrame.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

WorkerObject::WorkerObject(QObject* parent) : QObject(parent), thread(new QThread), timer(nullptr)
{
    moveToThread(thread);
    // The timer belongs to the GUI thread: its ticks reach the worker as queued calls.
    timer = new QTimer(thread);
    connect(thread, SIGNAL(started()), this, SLOT(event_loop()));
}

WorkerObject::~WorkerObject()
{
    stopPolling();
    thread->wait();
    delete thread;
}

bool WorkerObject::setPort(ComPort* newPort)
{
    if (thread->isRunning())
        return false;
    port = newPort;
    return true;
}

bool WorkerObject::startPolling()
{
    // A thread told to quit may still be finishing its sweep; start() would then do nothing.
    if (stopRequested && !thread->wait(0))
        return false;
    stopRequested = false;
    // Ticks queued before the stop would start a sweep at once instead of a period later.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    connect(timer, SIGNAL(timeout()), this, SLOT(timeoutHandler()), Qt::UniqueConnection);
    thread->start(QThread::InheritPriority);
    if (!timer->isActive())
        timer->start(period);
    return true;
}

void WorkerObject::stopPolling()
{
    disconnect(timer, SIGNAL(timeout()), this, SLOT(timeoutHandler()));
    thread->quit();
    stopRequested = true;
    if (timer->isActive())
        timer->stop();
}

bool WorkerObject::waitStopped(unsigned long ms)
{
    return !thread || thread->wait(ms);
}

void WorkerObject::event_loop()
{
    QEventLoop loop;
    loop.exec();
}

void WorkerObject::storeEntry(int module, const MsdData& entry)
{
    sweepData.msd[module] = entry;
}

void WorkerObject::applyKeepRule(int module, const MsdData& entry)
{
    if (errorCounts[module] >= 1 && errorCounts[module] <= 4)
        return;
    storeEntry(module, entry);
}

void WorkerObject::timeoutHandler()
{
    if (!port || stopRequested)
        return;
    // Ticks that came while the last sweep ran are stale: sweeps never pile up behind a slow line.
    const auto dropStaleTicks =
        qScopeGuard([this] { QCoreApplication::removePostedEvents(this, QEvent::MetaCall); });
    if (!port->isOpen() && !port->open()) {
        // The line is gone (adapter pulled, cable cut): the batteries must show that they
        // are no longer measured rather than keep their last values.
        for (int i = 0; i < DevicesGuiData::msdCount; ++i) {
            sweepData.msd[i].valid = false;
            sweepData.msd[i].msd_number = static_cast<std::uint32_t>(i);
            errorCounts[i] = 0;
            sweepData.answered[i] = false;
        }
        sweepData.lineLost = true;
        emit dataArrived(sweepData);
        return;
    }

    // False after an answer that was garbled or not ours: its rest may still be arriving.
    bool lineClean = true;
    for (bool& answered : sweepData.answered)
        answered = false;
    for (int i = 0; i < DevicesGuiData::msdCount; ++i) {
        NativeFrame::Answer answer{};
        MsdData entry = sweepData.msd[i];
        entry.valid = false;
        entry.msd_number = static_cast<std::uint32_t>(i);

        // Stopped: the window waits for this sweep only so long, and nobody takes its result.
        if (stopRequested)
            return;
        if (!port->isOpen()) {
            storeEntry(i, entry);
            continue;
        }
        const NativeFrame::Request request = NativeFrame::request(i);
        // Left over, the tail of a noisy or late answer would shift every later frame.
        if (lineClean)
            port->discardInput();
        else
            port->discardUntilQuiet();
        std::uint32_t received = 0;
        const bool exchanged = port->write(request.data(), NativeFrame::requestSize) &&
                               port->read(answer.data(), NativeFrame::answerSize, received);
        lineClean = received == 0 ||
                    (NativeFrame::isWellFormed(answer) && answer[NativeFrame::moduleByte] == std::uint8_t(i));
        if (!exchanged) {
            if (port->lastError() == 0) {
                applyKeepRule(i, entry);
            } else {
                port->close(true);
                errorCounts[i] = 0;
                storeEntry(i, entry);
            }
            continue;
        }
        if (NativeFrame::isWellFormed(answer)) {
            NativeFrame::decode(answer, entry);
            const std::uint8_t answeredBy = answer[NativeFrame::moduleByte];
            if (answeredBy == i) {
                entry.valid = true;
                errorCounts[i] = 0;
                storeEntry(i, entry);
                sweepData.answered[i] = true;
            } else {
                emit comErrorOccured(QStringLiteral("CS msd_number = address, msd ") + QString::number(i),
                                     wrongModuleCode | answeredBy);
                applyKeepRule(i, entry);
            }
        } else {
            if (errorCounts[i] < maxErrorCount)
                ++errorCounts[i];
            applyKeepRule(i, entry);
        }
    }
    // A line that failed in the middle of the sweep was closed by force.
    sweepData.lineLost = !port->isOpen();
    emit dataArrived(sweepData);
}
