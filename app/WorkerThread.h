#pragma once

#include <functional>

class QObject;
class QThread;

// A worker object on a thread of its own, as the publishers run: nothing the worker does can
// hold up the window, and stopping it holds the window for a bounded time at most.
namespace WorkerThread {

// Moves `worker` (without a parent) to a new thread, a child of `owner`, calls `start` on it
// once the thread runs, and answers the thread.
QThread* start(QObject* worker, const std::function<void()>& start, QObject* owner);
// Calls `stop` on the worker's thread after everything queued to it, ends the thread and
// deletes both, waiting at most `msecs`. A thread still busy then (a name being resolved) is
// left to end by itself, and deletes both when it does.
void stop(QThread* thread, QObject* worker, const std::function<void()>& stop, unsigned long msecs);

} // namespace WorkerThread
