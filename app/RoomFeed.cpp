#include "app/RoomFeed.h"

#include "core/Battery.h"
#include "core/CommLossTracker.h"
#include "history/HistoryRecorder.h"

#include <QDateTime>
#include <QMetaMethod>

RoomFeed::RoomFeed(const QString& path, QObject* parent)
    : QObject(parent), m_recorder(new HistoryRecorder(path, this))
{
    connect(m_recorder, &HistoryRecorder::stateChanged, this,
            [this](HistoryRecorder::State, const QString& message) {
                if (!message.isEmpty())
                    emit notice(message);
            });
    connect(m_recorder, &HistoryRecorder::setAside, this,
            [this](const QString&, const QString& message) { emit notice(message); });
    qRegisterMetaType<RoomSnapshot>();
    qRegisterMetaType<Event>();
}

RoomFeed::~RoomFeed()
{
    // The window's batteries may be gone by now: only the history takes the last round.
    m_room = Room();
    flushRound();
}

HistoryReading RoomFeed::readingOf(const Battery* battery)
{
    HistoryReading r;
    r.battery = battery->id();
    r.voltage = battery->voltage();
    r.temperature = battery->temperature();
    r.missing = battery->hasNoData();
    return r;
}

void RoomFeed::takeSweep(const QList<QList<Battery*>>& rows)
{
    HistorySweep sweep;
    sweep.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    sweep.readings.reserve(128);
    for (const QList<Battery*>& row : rows)
        for (const Battery* battery : row)
            sweep.readings.append(readingOf(battery));
    m_recorder->record(std::move(sweep));
    handOverSnapshot();
}

void RoomFeed::takeGroupTurn(const QList<Battery*>& members)
{
    for (const Battery* battery : members) {
        if (m_inRound.contains(battery->id())) {
            flushRound();
            break;
        }
    }
    for (const Battery* battery : members) {
        m_round.readings.append(readingOf(battery));
        m_inRound.insert(battery->id());
    }
    m_round.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
}

void RoomFeed::flushRound()
{
    if (m_round.readings.isEmpty())
        return;
    m_recorder->record(std::move(m_round));
    m_round = HistorySweep();
    m_inRound.clear();
    handOverSnapshot();
}

void RoomFeed::takeEvent(const Event& event, bool saveIntoFile)
{
    emit eventTaken(event, saveIntoFile);
}

void RoomFeed::handOverSnapshot()
{
    static const QMetaMethod sweepSignal = QMetaMethod::fromSignal(&RoomFeed::sweepTaken);
    if (!m_room.rows || !m_room.groups || !m_room.commLoss || !isSignalConnected(sweepSignal))
        return;
    RoomSnapshot snapshot =
        RoomSnapshot::take(*m_room.rows, *m_room.groups, *m_room.commLoss, m_room.polling && m_room.polling(),
                           m_room.modbusMode && m_room.modbusMode(), QDateTime::currentDateTime());
    snapshot.sequence = ++m_sequence;
    emit sweepTaken(snapshot);
}
