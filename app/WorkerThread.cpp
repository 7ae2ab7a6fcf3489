#include "app/WorkerThread.h"

#include <QObject>
#include <QThread>

QThread* WorkerThread::start(QObject* worker, const std::function<void()>& start, QObject* owner)
{
    auto* thread = new QThread(owner);
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::started, worker, start);
    thread->start();
    return thread;
}

void WorkerThread::stop(QThread* thread, QObject* worker, const std::function<void()>& stop,
                        unsigned long msecs)
{
    QMetaObject::invokeMethod(worker, [stop, thread] {
        stop();
        thread->quit();
    });
    if (thread->wait(msecs)) {
        delete worker;
        delete thread;
        return;
    }
    thread->setParent(nullptr);
    QObject::connect(
        thread, &QThread::finished, worker, [worker] { delete worker; }, Qt::DirectConnection);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}
