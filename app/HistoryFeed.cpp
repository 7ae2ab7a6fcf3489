#include "app/HistoryFeed.h"

#include "core/Battery.h"
#include "history/HistoryRecorder.h"

#include <QDateTime>

HistoryFeed::HistoryFeed(const QString& path, QObject* parent)
    : QObject(parent), m_recorder(new HistoryRecorder(path, this))
{
    connect(m_recorder, &HistoryRecorder::stateChanged, this,
            [this](HistoryRecorder::State, const QString& message) {
                if (!message.isEmpty())
                    emit notice(message);
            });
    connect(m_recorder, &HistoryRecorder::setAside, this,
            [this](const QString&, const QString& message) { emit notice(message); });
}

HistoryFeed::~HistoryFeed()
{
    flushRound();
}

HistoryReading HistoryFeed::readingOf(const Battery* battery)
{
    HistoryReading r;
    r.battery = battery->id();
    r.voltage = battery->voltage();
    r.temperature = battery->temperature();
    r.missing = battery->hasNoData();
    return r;
}

void HistoryFeed::takeSweep(const QList<QList<Battery*>>& rows)
{
    HistorySweep sweep;
    sweep.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    sweep.readings.reserve(128);
    for (const QList<Battery*>& row : rows)
        for (const Battery* battery : row)
            sweep.readings.append(readingOf(battery));
    m_recorder->record(std::move(sweep));
}

void HistoryFeed::takeGroupTurn(const QList<Battery*>& members)
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

void HistoryFeed::flushRound()
{
    if (m_round.readings.isEmpty())
        return;
    m_recorder->record(std::move(m_round));
    m_round = HistorySweep();
    m_inRound.clear();
}
