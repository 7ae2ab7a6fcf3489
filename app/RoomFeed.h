#pragma once

#include "core/RoomSnapshot.h"
#include "history/HistorySweep.h"
#include "journal/Event.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <functional>

class Battery;
class BatteryGroup;
class CommLossTracker;
class HistoryRecorder;

// The one point where the room's readings and journal events leave the window. A native sweep
// is taken as it comes, Modbus turns are gathered into one sweep per round of the polled groups;
// each goes to the history recorder and, as a RoomSnapshot, to every consumer connected to
// `sweepTaken` (the publishers on their own threads, by queued connections). Journal events
// leave through `eventTaken`, in journal order. Only copies leave the GUI thread.
class RoomFeed : public QObject
{
    Q_OBJECT
public:
    // What a snapshot is taken of; without it the feed only records the history.
    struct Room
    {
        const QList<QList<Battery*>>* rows = nullptr;
        const QList<BatteryGroup*>* groups = nullptr;
        const CommLossTracker* commLoss = nullptr;
        std::function<bool()> polling;
        std::function<bool()> modbusMode;
    };

    // Records into `path` (history.sqlite in the working directory for the program).
    explicit RoomFeed(const QString& path, QObject* parent = nullptr);
    ~RoomFeed() override;

    HistoryRecorder* recorder() const { return m_recorder; }
    void setRoom(const Room& room) { m_room = room; }

    // After the sweep was judged, so the snapshot carries its states.
    void takeSweep(const QList<QList<Battery*>>& rows);
    // One group's judged turn of the Modbus cycle; a group met again starts the next round.
    void takeGroupTurn(const QList<Battery*>& members);
    // The exchange stopped: what the round gathered so far is recorded.
    void flushRound();
    // Every event the journal is given, as it is given.
    void takeEvent(const Event& event, bool saveIntoFile = true);

signals:
    // For the status bar: a full disk, recording resumed, a damaged file set aside.
    void notice(const QString& message);
    void sweepTaken(const RoomSnapshot& snapshot);
    void eventTaken(const Event& event, bool saveIntoFile);

private:
    static HistoryReading readingOf(const Battery* battery);
    void handOverSnapshot();

    HistoryRecorder* m_recorder = nullptr;
    Room m_room;
    quint32 m_sequence = 0;
    HistorySweep m_round;
    QSet<int> m_inRound;
};
