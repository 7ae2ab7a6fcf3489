#pragma once

#include "journal/Event.h"

#include <QList>
#include <QString>

// The journal's PDF export: the file name rule, the document, the printing.
namespace JournalPdf {

// The chosen name with ".pdf" appended unless it already ends in exactly ".pdf"
// (the comparison is case-sensitive; a bare ".pdf" gets the suffix too).
QString fileNameFor(const QString& chosen);

// The HTML document of the given events, in their order.
QString document(const QList<Event>& events);

// Prints the HTML to an A4 PDF at fileName. The file is written beside the target and
// moved into place only when complete, so a failed export leaves an earlier file as it was.
// True when a complete PDF is in place.
bool print(const QString& fileName, const QString& html);

} // namespace JournalPdf
