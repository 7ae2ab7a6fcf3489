#pragma once

#include "app/ModbusMessageBoxes.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"
#include "core/CommLossTracker.h"
#include "journal/Event.h"
#include "link/ComPort.h"
#include "link/DevicesGuiData.h"
#include "link/ModbusCycle.h"
#include "link/WorkerObject.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QMessageBox>
#include <QSerialPort>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <set>
#include <vector>

class AlarmDecisions;
class AudioSignals;
class ButtonCaption;
class Battery;
class BatteryGroup;
class GroupsSettingsWindow;
class GroupContainerWidget;
class RoomFeed;
class HistoryWindow;
class Journal;
class JournalWidget;
class MKPWidget;
class ModbusTcpLink;
class MailLink;
class MqttLink;
class QButtonGroup;
class QLabel;
class QTimer;
class QVBoxLayout;
class StatusNotices;
struct AlarmOutcome;
struct MainWindowForm;

// The one window of the program. Its constructor builds everything the program ever has;
// nothing is created later.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window main() created; null before and after.
    static MainWindow* instance;
    // The current text of the port selector, or an empty text without a window.
    static QString currentComPortText();
    // Ports the system's table cannot know (--port), offered after the system's own.
    static QStringList extraComPorts;
    // Where the system's table of serial ports is read.
    static QString serialPortTableRoot;
    // Where udev keeps the ports' stable names.
    static QString serialByIdRoot;

    MainWindowForm* form() const { return ui; }
    const QList<QList<Battery*>>& rows() const { return batteryRows; }
    const QList<BatteryGroup*>& batteryGroups() const { return groups; }
    // The tile that shows the battery on the values page, if any.
    MKPWidget* tileOf(const Battery* battery) const;
    Settings& settingsRecord() { return settings; }
    AlarmThresholds& thresholdRecord() { return thresholds; }
    QLabel* exchangeStatus() const { return exchangeStatusLabel; }
    QLabel* retryStatus() const { return retryStatusLabel; }
    StatusNotices* statusNotices() const { return notices; }
    GroupsSettingsWindow* settingsPage() const { return groupsSettingsWindow; }
    Journal* alarmJournal() const { return journal; }
    RoomFeed* history() const { return roomFeed; }

    // Row labels of the tile grid follow the mode; the corner keeps its first text.
    void relabelRows();
    void showMode(bool modbus);

    const std::vector<std::unique_ptr<ComPort>>& comPortList() const { return comPorts; }
    AudioSignals* soundPlayer() const { return audioSignals; }
    WorkerObject& nativeWorker() { return worker; }
    // Native modules (by number) or Modbus group devices (by group) that lost communication.
    const CommLossTracker& commLossTracker() const { return commLoss; }

    // While false, native sweeps are ignored; the start/stop control switches it.
    bool isNativeRunning() const { return nativeRunning; }
    void setNativeRunning(bool running) { nativeRunning = running; }

    // One battery after new readings: classify it, journal what changed, decide the sound.
    void batteryAlarmStep(Battery* battery);

    // Start/stop control in the Modbus mode. startModbus answers false, telling the operator,
    // when no group holds a battery; nothing is started or locked then.
    bool startModbus();
    void stopModbus();
    bool isModbusRunning() const { return modbusRunning; }
    void startModbusExchange();
    void stopModbusExchange();
    QSerialPort* modbusPort() const { return serialPort; }
    const ModbusMessageBoxes& modbusMessageBoxes() const { return modbusBoxes; }
    // Shows a modal message box; replaceable so that tests never block on one.
    static std::function<void(QMessageBox::Icon, QWidget*, const QString&, const QString&)> showMessage;
    // Asks which of the listed groups to show; the index chosen, -1 when cancelled. Replaceable.
    static std::function<int(QWidget*, const QStringList&)> chooseGroup;

    // History windows: a battery against its group, a whole group, the group asked for.
    HistoryWindow* openBatteryHistory(const Battery* battery);
    HistoryWindow* openGroupHistory(int group);
    void askGroupHistory();
    QString historyPath() const;
    static const char* const manualFileName; // "ORVIK-Monitor_manual.pdf", beside the program

signals:
    void startWarningSound();
    void startCrashSound();
    void stopSounds();
    void addJournalEvent(Battery* battery, bool isStarted, bool isConfirmed, bool saveIntoFile);
    // A module's (device's) communication lost, confirmed or restored, for the journal.
    void addCommEvent(const Event& event);

public slots:
    void setCurrentMode(int id);
    void showEnabledGroup(int g);
    void showAllGroups();
    void updateGroupSelection();
    void on_chb_selection_clicked();
    void updateGroupsWidgetList(int first);
    void on_pb_stop_start_clicked();
    void dataArrivedHandler(DevicesGuiData devices_data);
    void hideNoGroupWidgets(bool hide);
    void on_pb_confirm_crashes_clicked();
    void cleanBatteriesState();
    void stackedWidgetIndexChanged(int index);
    void on_action_Modbus_triggered();
    void handleError(QSerialPort::SerialPortError error);
    void stageSwitcher();
    void on_action_pdf_triggered();

public: // Deviations page: the containers of groups 1..6 in order. The exchange's start and stop
    // switch their bars on and off; every arrival of measured data repaints them.
    const QList<GroupContainerWidget*>& deviationContainers() const { return groupContainers; }
    void setDeviationChartsRunning(bool running);
    void repaintDeviationCharts();

private slots:
    void readModbusAnswer();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void setControlsLocked(bool locked);
    void setGroupsRunningLook(bool running);
    void startNative();
    void stopNative();
    void nativeEvaluationPass();
    void alarmFollowUp(Battery* battery);
    AlarmDecisions alarmDecisions();
    void carryOut(const AlarmOutcome& outcome);

    // Communication loss (CommLossAlarm.cpp).
    void nativeCommStep(const DevicesGuiData& data);
    void commLostAt(int source);
    void commRestoredAt(int source);
    void journalComm(Event::Kind kind, int source, bool confirmed);
    void clearCommLoss();
    void showCommLoss();
    int commSourceOf(const Battery* battery) const;
    bool commLossAlarmOn() const;
    void buildTileGrid();
    void fitToScreen();
    void buildComPortList();
    void buildDeviationPage();

    MainWindowForm* ui;
    bool modbusRunning = false;
    QLabel* exchangeStatusLabel = nullptr;
    QLabel* retryStatusLabel = nullptr;
    StatusNotices* notices = nullptr;
    QButtonGroup* modeButtons = nullptr;
    QButtonGroup* groupButtons = nullptr;
    GroupsSettingsWindow* groupsSettingsWindow = nullptr;
    JournalWidget* journalWidget = nullptr;
    Journal* journal = nullptr;
    RoomFeed* roomFeed = nullptr;
    MqttLink* mqttLink = nullptr;
    ModbusTcpLink* modbusTcpLink = nullptr;
    MailLink* mailLink = nullptr;
    AlarmThresholds thresholds;
    QList<QList<Battery*>> batteryRows;
    QList<BatteryGroup*> groups;
    // The worker is declared after the ports so that it has stopped before they go.
    std::vector<std::unique_ptr<ComPort>> comPorts;
    WorkerObject worker;
    ComPort* currentComPort = nullptr;
    AudioSignals* audioSignals = nullptr;
    QList<GroupContainerWidget*> groupContainers;
    QVBoxLayout* derivLayout = nullptr;
    bool nativeRunning = false;
    Settings settings;
    std::vector<std::unique_ptr<ButtonCaption>> groupCaptions;
    CommLossTracker commLoss{16};

    // The Modbus exchange (ModbusExchange.cpp): ModbusCycle decides, the window carries out.
    void sendModbusRequest(const QByteArray& request);
    void openSerialPort();
    void closeSerialPort();
    QVector<int> groupBatteryCounts() const;
    void takeTurnDevice(const QVector<ModbusPollEntry>& list);
    void declareDeviceSilent(int group, int address);
    void finishDeviceTurn(int group);
    void applyRegisterTable(int group);
    void showSilentDevices();
    void pauseModbusExchange();
    void repaintGroupCharts(int group);

    QSerialPort* serialPort = nullptr;
    QTimer* stageTimer = nullptr;
    ModbusCycle modbusCycle;
    // Groups whose device went silent, with the address that was asked.
    std::set<int> silentDevices;
    QMap<int, int> silentAddresses;
    bool modbusPaused = false;
    QElapsedTimer exchangeClock;
    QSet<const Battery*> measuredThisTurn;
    ModbusMessageBoxes modbusBoxes;

    static QLabel* rowLabels[16];
    static QLabel* columnLabels[8];
    QLabel* cornerLabel = nullptr;
};

// Shows the given mode everywhere it is displayed (menu title, status labels, settings
// fields, tile grid labels). It does not change modbusMode, start, stop or save anything.
void applyMode(bool modbus);
