#pragma once

#include <QWidget>

class QSpinBox;

// The settings page. The device link and the settings file read each group's Modbus
// address and first sensor through the static accessors, which answer -1 / "error"
// while no page exists.
class GroupsSettingsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit GroupsSettingsWindow(QWidget* parent = nullptr);
    ~GroupsSettingsWindow() override;

    static GroupsSettingsWindow* instance;

    static int groupModbusAddress(int group);
    static QString groupModbusAddressText(int group);
    static int groupFirstSensor(int group);
    static QString groupFirstSensorText(int group);
    static void setGroupModbusAddress(int group, int value);
    static void setGroupFirstSensor(int group, int value);

signals:
    void groupsChanged();

private:
    static QSpinBox* addressBox(int group);
    static QSpinBox* sensorBox(int group);

    QSpinBox* m_addressBoxes[6] = {};
    QSpinBox* m_sensorBoxes[6] = {};
};
