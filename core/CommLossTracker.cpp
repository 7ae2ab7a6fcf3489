#include "core/CommLossTracker.h"

#include <algorithm>

CommLossTracker::CommLossTracker(int sourceCount) : sources(size_t(std::max(sourceCount, 0))) {}

void CommLossTracker::setSweepsToLoss(int sweeps)
{
    sweepsNeeded = std::max(sweeps, 1);
}

void CommLossTracker::setWatched(int source, bool watched)
{
    if (!valid(source))
        return;
    Source& s = sources[size_t(source)];
    s.watched = watched;
    if (!watched)
        s.lost = s.confirmed = false;
}

bool CommLossTracker::isWatched(int source) const
{
    return valid(source) && sources[size_t(source)].watched;
}

CommLossTracker::Change CommLossTracker::sweep(int source, bool answered)
{
    if (!valid(source))
        return Change::None;
    Source& s = sources[size_t(source)];
    if (answered) {
        s.missed = 0;
        if (!s.lost)
            return Change::None;
        s.lost = s.confirmed = false;
        return Change::Restored;
    }
    if (s.missed < sweepsNeeded)
        ++s.missed;
    if (s.missed < sweepsNeeded)
        return Change::None;
    return markLost(source);
}

CommLossTracker::Change CommLossTracker::markLost(int source)
{
    if (!valid(source))
        return Change::None;
    Source& s = sources[size_t(source)];
    s.missed = sweepsNeeded;
    if (!s.watched || s.lost)
        return Change::None;
    s.lost = true;
    s.confirmed = false;
    return Change::Lost;
}

bool CommLossTracker::isLost(int source) const
{
    return valid(source) && sources[size_t(source)].lost;
}

bool CommLossTracker::isConfirmed(int source) const
{
    return valid(source) && sources[size_t(source)].confirmed;
}

int CommLossTracker::missedSweeps(int source) const
{
    return valid(source) ? sources[size_t(source)].missed : 0;
}

bool CommLossTracker::anyUnconfirmed() const
{
    return std::any_of(sources.begin(), sources.end(),
                       [](const Source& s) { return s.lost && !s.confirmed; });
}

std::vector<int> CommLossTracker::lostSources() const
{
    std::vector<int> result;
    for (int i = 0; i < sourceCount(); ++i)
        if (sources[size_t(i)].lost)
            result.push_back(i);
    return result;
}

std::vector<int> CommLossTracker::confirmAll()
{
    std::vector<int> result;
    for (int i = 0; i < sourceCount(); ++i) {
        Source& s = sources[size_t(i)];
        if (s.lost && !s.confirmed) {
            s.confirmed = true;
            result.push_back(i);
        }
    }
    return result;
}

void CommLossTracker::clear()
{
    for (Source& s : sources) {
        s.missed = 0;
        s.lost = s.confirmed = false;
    }
}
