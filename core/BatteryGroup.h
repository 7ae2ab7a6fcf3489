#pragma once

#include <QList>

#include "core/GroupCaptionView.h"

class Battery;

// A battery group 0..8 (0 = no group, 1..6 the operator's groups). Its means cover the
// members that currently have data; recalculate() takes them once a sweep, and the caption
// is set only when its text changes.
class BatteryGroup
{
public:
    explicit BatteryGroup(int number);

    int number() const { return m_number; }
    int batteryCount() const { return m_batteries.size(); }
    Battery* batteryAt(int i) const;
    const QList<Battery*>& batteries() const { return m_batteries; }

    void addBattery(Battery* battery);
    void clearBatteries();

    double meanTemperature() const { return m_meanTemperature; }
    double meanVoltage() const { return m_meanVoltage; }
    void recalculate();

    GroupCaptionView* button() const { return m_button; }
    void setButton(GroupCaptionView* button);
    bool isIdle() const { return m_idle; }
    void setIdle(bool idle);
    void updateButtonText();
    QString caption() const;

private:
    enum class Reading
    {
        Temperature,
        Voltage
    };
    double mean(Reading reading) const;

    int m_number;
    double m_meanTemperature = 0.0;
    double m_meanVoltage = 0.0;
    bool m_idle = true;
    QList<Battery*> m_batteries;
    GroupCaptionView* m_button = nullptr;
    QString m_shownCaption;
};
