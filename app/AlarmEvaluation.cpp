// Alarm evaluation of the main window: native intake, the battery alarm step and the operator's
// confirmation. What follows is decided by AlarmDecisions; the window carries it out.
#include "app/MainWindow.h"
#include "app/RoomFeed.h"
#include "config/ProgramMode.h"
#include "core/AlarmDecisions.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/StateCode.h"

AlarmDecisions MainWindow::alarmDecisions()
{
    const AlarmSwitches switches{settings.warningAlarm(), settings.emergencyAlarm(), settings.commLossAlarm(),
                                 modbusMode};
    return AlarmDecisions(batteryRows, commLoss, switches,
                          [this] { return audioSignals && audioSignals->isPlaying(); });
}

void MainWindow::carryOut(const AlarmOutcome& outcome)
{
    for (const AlarmOutcome::BatteryEvent& event : outcome.batteryEvents)
        emit addJournalEvent(event.battery, event.started, event.confirmed, true);
    for (const AlarmOutcome::CommEvent& event : outcome.commEvents)
        journalComm(event.lost ? Event::Kind::CommLost : Event::Kind::CommRestored, event.source,
                    event.confirmed);
    if (outcome.commLookChanged)
        showCommLoss();
    for (AlarmOutcome::Sound sound : outcome.sounds) {
        if (sound == AlarmOutcome::Sound::Crash)
            emit startCrashSound();
        else if (sound == AlarmOutcome::Sound::Warning)
            emit startWarningSound();
        else
            emit stopSounds();
    }
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
    for (int k = 1; k <= 6 && k < groups.size(); ++k)
        groups[k]->recalculate();
    repaintDeviationCharts();
    nativeEvaluationPass();
    roomFeed->takeSweep(batteryRows);
}

void MainWindow::nativeEvaluationPass()
{
    alarmDecisions().evaluationPass([this](const AlarmOutcome& outcome) { carryOut(outcome); });
}

void MainWindow::batteryAlarmStep(Battery* battery)
{
    battery->updateState();
    alarmFollowUp(battery);
}

void MainWindow::alarmFollowUp(Battery* battery)
{
    carryOut(alarmDecisions().followUp(battery));
}

void MainWindow::on_pb_confirm_crashes_clicked()
{
    carryOut(alarmDecisions().confirmAll());
}

void MainWindow::cleanBatteriesState()
{
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        for (Battery* battery : row)
            battery->setState(StateCode::None);
}
