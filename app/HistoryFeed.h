#pragma once

#include "history/HistorySweep.h"

#include <QList>
#include <QObject>
#include <QSet>

class Battery;
class HistoryRecorder;

// Hands the readings the window took in to the history recorder: a native sweep as it comes,
// Modbus turns gathered into one sweep per round of the polled groups. Only a copy of the
// values leaves the GUI thread.
class HistoryFeed : public QObject
{
    Q_OBJECT
public:
    // Records into `path` (history.sqlite in the working directory for the program).
    explicit HistoryFeed(const QString& path, QObject* parent = nullptr);
    ~HistoryFeed() override;

    HistoryRecorder* recorder() const { return m_recorder; }

    void takeSweep(const QList<QList<Battery*>>& rows);
    // One group's turn of the Modbus cycle; a group met again starts the next round.
    void takeGroupTurn(const QList<Battery*>& members);
    // The exchange stopped: what the round gathered so far is recorded.
    void flushRound();

signals:
    // For the status bar: a full disk, recording resumed, a damaged file set aside.
    void notice(const QString& message);

private:
    static HistoryReading readingOf(const Battery* battery);

    HistoryRecorder* m_recorder = nullptr;
    HistorySweep m_round;
    QSet<int> m_inRound;
};
