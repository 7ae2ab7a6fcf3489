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
    // The limit of one quantity (first: VoltHighWarning or TempHighWarning) the reading is
    // beyond, an emergency before a warning; `count` for none. Strict, like the deviations;
    // a limit that is off compares false.
    Limit crossed(Limit first, double reading) const
    {
        if (reading > value[first + 1])
            return Limit(first + 1);
        if (reading < value[first + 3])
            return Limit(first + 3);
        if (reading > value[first])
            return first;
        if (reading < value[first + 2])
            return Limit(first + 2);
        return count;
    }
    // A warning and its emergency (warning: one of the four warnings) the operator may set:
    // no negative voltage, and, both on, the warning nearer normal than the emergency; the
    // fallback's limits stand in for these that are off.
    bool pairFits(Limit warning, const AbsoluteLimits& fallback) const
    {
        const Limit emergency = Limit(warning + 1);
        if (warning < TempHighWarning && (value[warning] < 0 || value[emergency] < 0))
            return false;
        const double w = isOn(warning) ? value[warning] : fallback.value[warning];
        const double e = isOn(emergency) ? value[emergency] : fallback.value[emergency];
        if (std::isnan(w) || std::isnan(e))
            return true;
        return directionOf(warning) == '>' ? w < e : w > e;
    }
    static bool isEmergency(Limit limit) { return limit % 2 == 1; }
    // 'U' or 'T', and '>' or '<', as the journal writes them.
    static char quantityOf(Limit limit) { return limit < TempHighWarning ? 'U' : 'T'; }
    static char directionOf(Limit limit) { return limit / 2 % 2 == 0 ? '>' : '<'; }
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
