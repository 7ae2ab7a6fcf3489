// libFuzzer target: arbitrary settings.xml contents through the loader.
//
// The input is written to a file in a temporary folder of this process and loaded with a
// threshold record at its defaults; the loaded values must be ones the program can work with.
#include "config/Settings.h"
#include "core/AlarmThresholds.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Undefined behaviour stops the run like a crash, so the fuzzer keeps the input.
extern "C" const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool positive(double value)
{
    return std::isfinite(value) && value > 0.0;
}

const QString& settingsPath()
{
    static QTemporaryDir folder;
    static const QString path = folder.filePath(QStringLiteral("settings.xml"));
    require(folder.isValid());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        QFile file(settingsPath());
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        require(file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
                static_cast<qint64>(size));
    }

    AlarmThresholds thresholds;
    Settings settings;
    settings.setThresholds(&thresholds);
    const bool loaded = settings.load(settingsPath());

    require(std::isfinite(settings.journalSize()) && settings.journalSize() >= 1.0);
    require(positive(thresholds.tempEmergency) && positive(thresholds.tempWarning));
    require(positive(thresholds.voltHighEmergency) && positive(thresholds.voltHighWarning));
    require(positive(thresholds.voltLowEmergency) && positive(thresholds.voltLowWarning));
    bool anyGroup = false;
    for (int msd = 0; msd < 16; ++msd) {
        for (int mkp = 0; mkp < 8; ++mkp) {
            const int group = settings.groupOf(msd, mkp);
            require(group >= 0 && group <= Settings::groupCount);
            anyGroup = anyGroup || group != 0;
        }
    }

    // The Modbus addresses are kept as text and read only when asked for.
    for (int g = 1; g <= Settings::groupCount; ++g) {
        (void)settings.modbusAddr(g);
        (void)settings.dat(g);
    }

    // A file that is not read changes nothing.
    if (!loaded) {
        const AlarmThresholds defaults;
        require(std::memcmp(&thresholds, &defaults, sizeof defaults) == 0);
        require(!anyGroup);
        require(settings.journalSize() == Settings::defaultJournalSize);
    }
    return 0;
}
