#pragma once

// The six deviation thresholds every battery, tile and chart judges against.
// One instance lives in the main window; everything else points to it.
struct AlarmThresholds
{
    static constexpr double defaultTempEmergency = 5.0;
    static constexpr double defaultTempWarning = 4.0;
    static constexpr double defaultVoltHighEmergency = 1.3;
    static constexpr double defaultVoltLowEmergency = 1.3;
    static constexpr double defaultVoltHighWarning = 1.2;
    static constexpr double defaultVoltLowWarning = 1.2;

    double tempEmergency = defaultTempEmergency;
    double tempWarning = defaultTempWarning;
    double voltHighEmergency = defaultVoltHighEmergency;
    double voltLowEmergency = defaultVoltLowEmergency;
    double voltHighWarning = defaultVoltHighWarning;
    double voltLowWarning = defaultVoltLowWarning;

    void setDefaults() { *this = AlarmThresholds(); }
};
