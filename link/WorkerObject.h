#pragma once

#include "link/DevicesGuiData.h"

#include <QObject>
#include <atomic>
#include <cstdint>

class ComPort;
class QThread;
class QTimer;

// Polls the 16 native modules over one ComPort in a thread of its own, one sweep every
// polling period, and hands each whole sweep over as one DevicesGuiData value.
class WorkerObject : public QObject
{
    Q_OBJECT
public:
    static constexpr int pollingPeriodMs = 3000;
    static constexpr std::uint8_t maxErrorCount = 5;
    static constexpr std::uint32_t wrongModuleCode = 0xFD000000u;

    explicit WorkerObject(QObject* parent = nullptr);
    // Stops polling and waits for a running sweep to end: every line operation is bounded,
    // and the port must not be closed or destroyed under it.
    ~WorkerObject() override;

    // Called from the GUI thread. Both refuse (false) while the thread of the last polling
    // still runs a sweep: its port must not change under it, and waiting for it here would
    // hold the caller without bound. waitStopped tells when that is over.
    bool setPort(ComPort* port);
    bool startPolling();
    void stopPolling();
    bool waitStopped(unsigned long ms);

    // The program polls every 3000 ms; tests and benchmarks may shorten it before starting.
    void setPollingPeriod(int ms) { period = ms; }
    QTimer* pollingTimer() const { return timer; }
    QThread* pollingThread() const { return thread; }

signals:
    void dataArrived(DevicesGuiData devices_data);
    void comErrorOccured(QString text, unsigned int code);

public slots:
    // One sweep of modules 0..15; runs in the worker's thread.
    void timeoutHandler();
    void event_loop();

private:
    void storeEntry(int module, const MsdData& entry);
    // A module with 1 to 4 bad frames in a row keeps its last entry.
    void applyKeepRule(int module, const MsdData& entry);

    ComPort* port = nullptr;
    QThread* thread;
    QTimer* timer;
    DevicesGuiData sweepData;
    std::uint8_t errorCounts[DevicesGuiData::msdCount] = {};
    int period = pollingPeriodMs;
    // Set on the GUI thread, read by sweeps: ticks already queued when polling stopped
    // must not open the port again behind the window's back.
    std::atomic<bool> stopRequested{false};
};
