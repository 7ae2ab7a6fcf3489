#include "journal/JournalPdf.h"

#include "journal/JournalFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPrinter>
#include <QTextDocument>
#include <cstdio>

namespace JournalPdf {

namespace {

// QTextDocument::print reports nothing: judge the file itself.
bool isCompletePdf(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 16)
        return false;
    if (!file.read(5).startsWith("%PDF-"))
        return false;
    file.seek(file.size() - 16);
    return file.read(16).trimmed().endsWith("%%EOF");
}

} // namespace

QString fileNameFor(const QString& chosen)
{
    const QFileInfo info(chosen);
    if (info.suffix() != QLatin1String("pdf") || info.fileName() == QLatin1String(".pdf"))
        return chosen + QStringLiteral(".pdf");
    return chosen;
}

QString document(const QList<Event>& events)
{
    QString html = JournalFormat::styledHead();
    for (const Event& event : events) {
        html += JournalFormat::toHtml(event);
        html += QLatin1Char('\n');
    }
    html += QStringLiteral("</body>\n</html>");
    return html;
}

bool print(const QString& fileName, const QString& html)
{
    if (QFileInfo(fileName).isDir())
        return false;
    const QString partName = fileName + QStringLiteral(".part");
    {
        QPrinter printer(QPrinter::PrinterResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setOutputFileName(partName);
        QTextDocument document;
        document.setHtml(html);
        document.print(&printer);
        if (printer.printerState() == QPrinter::Error) {
            QFile::remove(partName);
            return false;
        }
    } // the printer finishes the file when it goes
    if (!isCompletePdf(partName) ||
        std::rename(QFile::encodeName(partName).constData(), QFile::encodeName(fileName).constData()) != 0) {
        QFile::remove(partName);
        return false;
    }
    return true;
}

} // namespace JournalPdf
