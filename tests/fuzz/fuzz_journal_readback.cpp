// libFuzzer target: journal files through the read-back, and each event read through the paragraph
// the export writes. Byte 0 the number of events to keep (a signed byte), the rest the file.
#include "Require.h"
#include "core/AlarmThresholds.h"
#include "core/StateCode.h"
#include "journal/Event.h"
#include "journal/JournalFormat.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {
bool isState(int state)
{
    return state == StateCode::Normal || state == StateCode::Warning || state == StateCode::Emergency;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int keepNewest = static_cast<int8_t>(data[0]);
    const QByteArray file(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    const JournalFormat::ReadBack result = JournalFormat::readBack(file, AlarmThresholds(), keepNewest);
    const int kept = result.events.size();
    require(result.total >= 0 && kept <= result.total);
    require(keepNewest > 0 ? kept == std::min(keepNewest, result.total) : kept == 0);
    for (const Event& event : result.events) {
        require(event.time().isValid());
        require(std::isfinite(event.voltage()) && std::isfinite(event.voltDeviation()));
        require(std::isfinite(event.temperature()) && std::isfinite(event.tempDeviation()));
        require(isState(event.voltState()) && isState(event.tempState()));
        (void)event.batteryNumber(); // the page's number: no overflow
        require(JournalFormat::toHtml(event).startsWith(QLatin1String("<p><h>")));
    }
    return 0;
}
