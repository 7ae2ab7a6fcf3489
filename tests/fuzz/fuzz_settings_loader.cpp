// libFuzzer target: settings.xml contents through the loader, with thresholds at their defaults;
// whatever is loaded must be values the program can work with.
#include "Require.h"
#include "config/Settings.h"
#include "core/AlarmThresholds.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {
bool positive(double value)
{
    return std::isfinite(value) && value > 0.0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    static const QString path = folder.filePath(QStringLiteral("settings.xml"));
    QFile file(path);
    require(folder.isValid() && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    file.close();

    AlarmThresholds thresholds;
    Settings settings;
    settings.setThresholds(&thresholds);
    const bool loaded = settings.load(path);
    require(std::isfinite(settings.journalSize()) && settings.journalSize() >= 1.0);
    require(positive(thresholds.tempEmergency) && positive(thresholds.tempWarning));
    require(positive(thresholds.voltHighEmergency) && positive(thresholds.voltHighWarning));
    require(positive(thresholds.voltLowEmergency) && positive(thresholds.voltLowWarning));
    bool anyGroup = false;
    for (int id = 0; id < 128; ++id) {
        const int group = settings.groupOf(id / 8, id % 8);
        require(group >= 0 && group <= Settings::groupCount);
        anyGroup = anyGroup || group != 0;
    }
    for (int g = 1; g <= Settings::groupCount; ++g) // kept as text, read only when asked for
        (void)settings.modbusAddr(g), (void)settings.dat(g);
    // A file that is not read changes nothing.
    const AlarmThresholds defaults;
    require(loaded || (std::memcmp(&thresholds, &defaults, sizeof defaults) == 0 && !anyGroup &&
                       settings.journalSize() == Settings::defaultJournalSize));
    return 0;
}
