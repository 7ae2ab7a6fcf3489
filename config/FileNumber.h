#pragma once

#include <QString>

// Numbers in the program's files: general format, six significant digits, full stop,
// whatever the system locale.
namespace FileNumber {
QString toText(double value);
// True and *value set when the whole text (surrounding blanks allowed) is a finite
// number; every number the program reads from a file or a field goes through here.
bool parse(const QString& text, double* value);
// True and *value set when the text is a base-10 integer.
bool parseInt(const QString& text, int* value);
} // namespace FileNumber
