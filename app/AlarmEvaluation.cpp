// Alarm evaluation of the main window: native intake, the battery alarm step, the journal
// and sound decisions, and the operator's confirmation.
#include "app/HistoryFeed.h"
#include "app/MainWindow.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/StateCode.h"

namespace {
bool inAlarm(int state)
{
    return state == StateCode::Warning || state == StateCode::Emergency;
}
} // namespace

template <typename Predicate> bool MainWindow::anyBattery(Predicate predicate) const
{
    for (const QList<Battery*>& row : batteryRows)
        for (const Battery* battery : row)
            if (predicate(battery))
                return true;
    return false;
}

void MainWindow::dataArrivedHandler(DevicesGuiData devices_data)
{
    if (!nativeRunning)
        return;
    nativeCommStep(devices_data);
    for (const MsdData& entry : devices_data.msd) {
        if (entry.msd_number > 15 || int(entry.msd_number) >= batteryRows.size())
            continue;
        const QList<Battery*>& row = batteryRows.at(int(entry.msd_number));
        // A lost module's entries are the keep rule's repeats, not measurements.
        const bool measured = entry.valid && !commLoss.isLost(int(entry.msd_number));
        for (int j = 0; j < MsdData::channelCount && j < row.size(); ++j) {
            Battery* battery = row.at(j);
            if (!measured) {
                battery->setNoData(true);
                continue;
            }
            if (battery->hasNoData())
                battery->setNoData(false);
            battery->setTemperature(entry.channel[j].temperature);
            battery->setVoltage(entry.channel[j].voltage);
        }
    }
    historyFeed->takeSweep(batteryRows);
    for (int k = 1; k <= 6 && k < groups.size(); ++k)
        groups[k]->recalculate();
    repaintDeviationCharts();
    nativeEvaluationPass();
}

void MainWindow::nativeEvaluationPass()
{
    for (const QList<Battery*>& row : qAsConst(batteryRows)) {
        for (Battery* battery : row) {
            if (battery->hasNoData())
                continue;
            battery->updateState();
            if (battery->groupNumber() == 0)
                continue;
            alarmFollowUp(battery);
        }
    }
}

void MainWindow::batteryAlarmStep(Battery* battery)
{
    battery->updateState();
    alarmFollowUp(battery);
}

void MainWindow::alarmFollowUp(Battery* battery)
{
    if (battery->voltState() == StateCode::Normal && battery->prevVoltState() == StateCode::Normal &&
        battery->tempState() == StateCode::Normal && battery->prevTempState() == StateCode::Normal)
        return;
    journalDecision(battery, false);
    if (!battery->isConfirmed())
        soundDecision(battery);
}

void MainWindow::journalDecision(Battery* battery, bool confirming)
{
    const int pV = battery->prevVoltState(), V = battery->voltState();
    if ((inAlarm(pV) || inAlarm(V)) && (V != pV || confirming))
        emit addJournalEvent(battery, V >= pV, confirming, true);
    const int pT = battery->prevTempState(), T = battery->tempState();
    if ((inAlarm(pT) || inAlarm(T)) && (T != pT || confirming))
        emit addJournalEvent(battery, T >= pT, confirming, true);
}

bool MainWindow::unconfirmedEmergency() const
{
    // An unconfirmed voltage emergency keeps the emergency sound.
    return settings.emergencyAlarm() && anyBattery([](const Battery* b) {
               return b->voltState() == StateCode::Emergency && !b->isConfirmed() && b->groupNumber() != 0;
           });
}

bool MainWindow::anythingSounding() const
{
    const bool crashOn = settings.emergencyAlarm();
    const bool warningOn = settings.warningAlarm();
    if (warningOn && commLossAlarmOn() && commLoss.anyUnconfirmed())
        return true;
    return anyBattery([&](const Battery* b) {
        if (b->groupNumber() == 0 || b->isConfirmed())
            return false;
        return (b->state() == StateCode::Emergency && crashOn) ||
               (b->state() == StateCode::Warning && warningOn);
    });
}

void MainWindow::soundDecision(Battery* battery)
{
    if (settings.emergencyAlarm() && battery->state() == StateCode::Emergency) {
        emit startCrashSound();
        return;
    }
    if (settings.warningAlarm() && battery->state() == StateCode::Warning) {
        if (!unconfirmedEmergency())
            emit startWarningSound();
        return;
    }
    if (audioSignals && audioSignals->isPlaying() && !anythingSounding())
        emit stopSounds();
}

void MainWindow::on_pb_confirm_crashes_clicked()
{
    for (const QList<Battery*>& row : qAsConst(batteryRows)) {
        for (Battery* battery : row) {
            if ((inAlarm(battery->voltState()) || inAlarm(battery->tempState())) && !battery->isConfirmed() &&
                battery->groupNumber() != 0)
                journalDecision(battery, true);
            battery->setConfirmed(true);
        }
    }
    confirmCommLoss();
    emit stopSounds();
}

void MainWindow::cleanBatteriesState()
{
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            battery->setState(StateCode::None);
}
