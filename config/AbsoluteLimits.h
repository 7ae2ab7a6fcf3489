#pragma once

#include <cmath>
#include <limits>

// Limits on a battery's own voltage and temperature, beside the deviation from its group's
// mean: they catch a whole group drifting together. A limit that is not a number is off.
struct AbsoluteLimits
{
    enum Limit
    {
        VoltHighWarning,
        VoltHighEmergency,
        VoltLowWarning,
        VoltLowEmergency,
        TempHighWarning,
        TempHighEmergency,
        TempLowWarning,
        TempLowEmergency,
        count
    };
    static constexpr double off = std::numeric_limits<double>::quiet_NaN();

    double value[count] = {off, off, off, off, off, off, off, off};

    bool isOn(Limit limit) const { return !std::isnan(value[limit]); }
    // These limits, each one that is off taken from the fallback.
    AbsoluteLimits over(const AbsoluteLimits& fallback) const
    {
        AbsoluteLimits merged = *this;
        for (int i = 0; i < count; ++i)
            if (std::isnan(merged.value[i]))
                merged.value[i] = fallback.value[i];
        return merged;
    }
};
