#pragma once

#include "core/AbsoluteLimits.h"
#include "core/BatteryView.h"

class BatteryGroup;
struct AlarmThresholds;

// One of the 128 battery positions (16 МСД rows × 8 МКП positions).
// Every visible change is pushed at once into its view (the tile), when there is one.
class Battery
{
public:
    Battery(int id, int msdIndex, int mkpIndex);

    int id() const { return m_id; }
    int msdIndex() const { return m_msdIndex; }
    int mkpIndex() const { return m_mkpIndex; }

    double temperature() const { return m_temperature; }
    double voltage() const { return m_voltage; }
    void setTemperature(double t);
    void setVoltage(double u);

    BatteryView* widget() const { return m_widget; }
    void setWidget(BatteryView* widget);
    AlarmThresholds* thresholds() const { return m_thresholds; }
    void setThresholds(AlarmThresholds* thresholds);

    BatteryGroup* group() const { return m_group; }
    int groupNumber() const;
    void setGroup(BatteryGroup* group);

    int state() const { return m_state; }
    void setState(int state);
    // Effective deviation states: 0 while the overall state is 0.
    int voltState() const;
    int tempState() const;
    int prevVoltState() const { return m_prevVoltState; }
    int prevTempState() const { return m_prevTempState; }
    // The absolute limit a state comes from (in alarm and not below the deviation's state),
    // with its value; AbsoluteLimits::count while the state comes from the deviation alone.
    AbsoluteLimits::Limit voltLimit() const { return m_state == 0 ? AbsoluteLimits::count : m_voltLimit; }
    AbsoluteLimits::Limit tempLimit() const { return m_state == 0 ? AbsoluteLimits::count : m_tempLimit; }
    double voltLimitValue() const { return m_voltLimitValue; }
    double tempLimitValue() const { return m_tempLimitValue; }

    void updateState();

    bool isConfirmed() const { return m_confirmed; }
    void setConfirmed(bool confirmed);
    bool hasNoData() const { return m_noData; }
    void setNoData(bool noData);

    void setHighlighted(bool on);
    void setHideIfUngrouped(bool hide);
    void reset();

private:
    void show(BatteryView::Change change) const;

    int m_id;
    int m_msdIndex;
    int m_mkpIndex;
    double m_temperature = 0.0;
    double m_voltage = 0.0;
    BatteryView* m_widget = nullptr;
    AlarmThresholds* m_thresholds = nullptr;
    int m_state = 0;
    int m_voltState = 0;
    int m_tempState = 0;
    int m_prevVoltState = 0;
    int m_prevTempState = 0;
    AbsoluteLimits::Limit m_voltLimit = AbsoluteLimits::count;
    AbsoluteLimits::Limit m_tempLimit = AbsoluteLimits::count;
    double m_voltLimitValue = 0.0;
    double m_tempLimitValue = 0.0;
    BatteryGroup* m_group = nullptr;
    bool m_confirmed = false;
    bool m_noData = false;
};
