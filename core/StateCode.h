#pragma once

// Alarm state codes shared by batteries, tiles, charts and the journal.
namespace StateCode {
constexpr int None = 0; // not evaluated, reset, or no data
constexpr int Normal = 1;
constexpr int Warning = 2;
constexpr int Emergency = 3;
} // namespace StateCode
