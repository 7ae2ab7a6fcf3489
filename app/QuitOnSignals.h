#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (logout, shutdown, a service stop) end the event loop like a
// quit from the menu without its question, so the window's destructor still writes the
// journal queue and closes the history. One instance a process.
class QuitOnSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject* parent = nullptr);
    // Puts the default actions back.
    ~QuitOnSignals() override;

    // The last signal that asked to quit, 0 while none did.
    int received() const { return m_received; }

private:
    void takeSignal();

    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
};
