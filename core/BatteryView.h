#pragma once

class BatteryGroup;
struct AlarmThresholds;

// What shows one battery (its tile). The battery pushes every change at once through it.
class BatteryView
{
public:
    virtual ~BatteryView() = default;

    virtual void setMsdNumber(int n) = 0;
    virtual void setMkpNumber(int n) = 0;
    // The battery's place in its group, as the Modbus exchange numbers it.
    virtual void setBatteryNumber(int n) = 0;
    virtual void setGroup(BatteryGroup* group) = 0;
    virtual void setThresholds(AlarmThresholds* thresholds) = 0;
    virtual void setTemperature(double t) = 0;
    virtual void setVoltage(double u) = 0;
    virtual void setState(int state) = 0;
    virtual void setConfirmed(bool confirmed) = 0;
    virtual void setHighlighted(bool on) = 0;
    virtual void setHideIfUngrouped(bool hide) = 0;
    // The battery's module (or device) lost communication; shown until `confirmed`.
    virtual void setCommLoss(bool lost, bool confirmed) = 0;
    // The program's mode changed (the Modbus address shows only in Modbus mode).
    virtual void followMode() = 0;
};
