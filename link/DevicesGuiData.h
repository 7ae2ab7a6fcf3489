#pragma once

#include <QMetaType>
#include <cstdint>

// One channel (МКП) of a module: volts and degrees Celsius.
struct ChannelReading
{
    double voltage = 0.0;
    double temperature = 0.0;
};

// One module's (МСД) entry in a sweep. The readings mean nothing while valid is false.
struct MsdData
{
    static constexpr int channelCount = 8;

    bool valid = false;
    std::uint32_t msd_number = 0;
    ChannelReading channel[channelCount];
};

// One native sweep of the 16 modules, index = module number. Copied whole across threads.
struct DevicesGuiData
{
    static constexpr int msdCount = 16;

    DevicesGuiData()
    {
        for (int i = 0; i < msdCount; ++i)
            msd[i].msd_number = static_cast<std::uint32_t>(i);
    }

    MsdData msd[msdCount];
    // Whether each module gave a good answer in this very sweep. An entry can be valid
    // without it: the keep rule repeats a module's last good entry for a few bad sweeps.
    bool answered[msdCount] = {};
    // The line could not be opened or failed during the sweep: no module could answer.
    bool lineLost = false;
};

Q_DECLARE_METATYPE(DevicesGuiData)
