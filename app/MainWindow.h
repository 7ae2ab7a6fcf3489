#pragma once

#include "config/AlarmThresholds.h"
#include "config/Settings.h"

#include <QList>
#include <QMainWindow>

class Battery;
class BatteryGroup;
class Journal;
class JournalWidget;
class QButtonGroup;
class QLabel;
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

    MainWindowForm* form() const { return ui; }
    const QList<QList<Battery*>>& rows() const { return batteryRows; }
    const QList<BatteryGroup*>& batteryGroups() const { return groups; }
    Settings& settingsRecord() { return settings; }
    AlarmThresholds& thresholdRecord() { return thresholds; }
    QLabel* exchangeStatus() const { return exchangeStatusLabel; }
    QLabel* retryStatus() const { return retryStatusLabel; }

    // Row labels of the tile grid follow the mode; the corner keeps its first text.
    void relabelRows();
    void showMode(bool modbus);

signals:
    void addJournalEvent(Battery* battery, bool isStarted, bool isConfirmed, bool saveIntoFile);

private:
    void buildTileGrid();
    void fitToScreen();

    MainWindowForm* ui;
    bool modbusRunning = false;
    QLabel* exchangeStatusLabel = nullptr;
    QLabel* retryStatusLabel = nullptr;
    QButtonGroup* modeButtons = nullptr;
    QButtonGroup* groupButtons = nullptr;
    JournalWidget* journalWidget = nullptr;
    Journal* journal = nullptr;
    AlarmThresholds thresholds;
    QList<QList<Battery*>> batteryRows;
    QList<BatteryGroup*> groups;
    bool nativeRunning = false;
    Settings settings;

    static QLabel* rowLabels[16];
    static QLabel* columnLabels[8];
    QLabel* cornerLabel = nullptr;
};
