#pragma once

#include "core/AbsoluteLimits.h"

// The deviation thresholds and absolute limits every battery, tile and chart judges against.
// One instance lives in the main window; everything else points to it.
struct AlarmThresholds
{
    static constexpr double defaultTempEmergency = 5.0;
    static constexpr double defaultTempWarning = 4.0;
    static constexpr double defaultVoltHighEmergency = 1.3;
    static constexpr double defaultVoltLowEmergency = 1.3;
    static constexpr double defaultVoltHighWarning = 1.2;
    static constexpr double defaultVoltLowWarning = 1.2;

    AlarmThresholds() = default;
    // The six deviation thresholds; every absolute limit off.
    AlarmThresholds(double tempEmergency, double tempWarning, double voltHighEmergency,
                    double voltLowEmergency, double voltHighWarning, double voltLowWarning)
        : tempEmergency(tempEmergency), tempWarning(tempWarning), voltHighEmergency(voltHighEmergency),
          voltLowEmergency(voltLowEmergency), voltHighWarning(voltHighWarning), voltLowWarning(voltLowWarning)
    {
    }

    double tempEmergency = defaultTempEmergency;
    double tempWarning = defaultTempWarning;
    double voltHighEmergency = defaultVoltHighEmergency;
    double voltLowEmergency = defaultVoltLowEmergency;
    double voltHighWarning = defaultVoltHighWarning;
    double voltLowWarning = defaultVoltLowWarning;

    // The installation's absolute limits, and per group 1..6 its own, which override them.
    AbsoluteLimits limits;
    AbsoluteLimits groupLimits[6];

    // The limits a battery of this group is judged against; group 0 has the installation's.
    AbsoluteLimits limitsFor(int group) const
    {
        return group >= 1 && group <= 6 ? groupLimits[group - 1].over(limits) : limits;
    }

    void setDefaults() { *this = AlarmThresholds(); }
};
