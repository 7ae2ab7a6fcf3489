#pragma once

#include <vector>

class Battery;

// What an alarm decision asks the window to carry out, in this order: the batteries' journal
// events, the communication events, the loss look anew, then the sounds.
struct AlarmOutcome
{
    struct BatteryEvent
    {
        Battery* battery;
        bool started;
        bool confirmed;
    };
    // A source (native module, or Modbus group) lost or back.
    struct CommEvent
    {
        int source;
        bool lost;
        bool confirmed;
    };
    enum class Sound
    {
        Warning,
        Crash,
        Stop
    };

    std::vector<BatteryEvent> batteryEvents;
    std::vector<CommEvent> commEvents;
    // The tiles' loss look and the status text are to be shown anew.
    bool commLookChanged = false;
    std::vector<Sound> sounds;
};
