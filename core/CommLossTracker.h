#pragma once

#include <vector>

// Which sources (native modules, or Modbus group devices) have lost communication, and
// whether the operator has confirmed it. A source is watched when it holds at least one
// grouped battery; only watched sources are ever lost.
class CommLossTracker
{
public:
    enum class Change
    {
        None,
        Lost,
        Restored
    };

    explicit CommLossTracker(int sourceCount);

    int sourceCount() const { return int(sources.size()); }
    // Consecutive unanswered sweeps that make a source lost (at least 1).
    void setSweepsToLoss(int sweeps);
    int sweepsToLoss() const { return sweepsNeeded; }
    // A source no longer watched drops its loss silently: it holds nothing to alarm about.
    void setWatched(int source, bool watched);
    bool isWatched(int source) const;

    // One sweep's outcome for a source: counted, and lost at the threshold.
    Change sweep(int source, bool answered);
    // Lost at once (a silent Modbus device, a line that is gone).
    Change markLost(int source);

    bool isLost(int source) const;
    bool isConfirmed(int source) const;
    int missedSweeps(int source) const;
    bool anyUnconfirmed() const;
    std::vector<int> lostSources() const;
    // Confirms every lost source; answers those that were not confirmed yet.
    std::vector<int> confirmAll();
    // Forgets every count and loss (the exchange was stopped).
    void clear();

private:
    struct Source
    {
        int missed = 0;
        bool watched = false;
        bool lost = false;
        bool confirmed = false;
    };
    bool valid(int source) const { return source >= 0 && source < sourceCount(); }

    std::vector<Source> sources;
    int sweepsNeeded = 3;
};
