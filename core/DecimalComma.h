#pragma once

#include <QString>

// Formats one number with a printf-style format ("%4.2f", "%3.1f") into at most 13
// characters and writes the decimal separator as a comma, whatever locale the C
// run-time has. Every number the operator reads goes through here; files keep the full stop.
QString decimalComma(const char* format, double value);
