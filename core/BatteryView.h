#pragma once

class Battery;

// What shows one battery (its tile). The battery tells it at once of every change it shows;
// the view reads the battery itself, so it keeps no copy of the battery's values or state.
class BatteryView
{
public:
    enum class Change
    {
        All, // a new battery, or null when it is gone
        Temperature,
        Voltage,
        State,
        Confirmed,
        Group
    };

    virtual ~BatteryView() = default;

    virtual void showBattery(const Battery* battery, Change change) = 0;
    // The battery's place in its group, as the Modbus exchange numbers it.
    virtual void setBatteryNumber(int n) = 0;
    virtual void setHighlighted(bool on) = 0;
    virtual void setHideIfUngrouped(bool hide) = 0;
    // The battery's module (or device) lost communication; shown until `confirmed`.
    virtual void setCommLoss(bool lost, bool confirmed) = 0;
    // The program's mode changed (the Modbus address shows only in Modbus mode).
    virtual void followMode() = 0;
};
