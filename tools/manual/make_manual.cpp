// Prints the operator's manual (HTML) into a PDF with Qt's own PDF writer.
//   orvik-make-manual <manual.html> <out.pdf>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPrinter>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <manual.html> <out.pdf>\n", argv[0]);
        return 2;
    }
    QFile html(QString::fromLocal8Bit(argv[1]));
    if (!html.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument document;
    // Pictures are named relative to the manual's own file.
    document.setMetaInformation(QTextDocument::DocumentUrl,
                                QUrl::fromLocalFile(QFileInfo(html).absoluteFilePath()).toString());
    document.setHtml(QString::fromUtf8(html.readAll()));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFileName(QString::fromLocal8Bit(argv[2]));
    printer.setDocName(QStringLiteral("ORVIK-Monitor manual"));
    document.print(&printer);
    QFile out(QString::fromLocal8Bit(argv[2]));
    return out.open(QIODevice::ReadOnly) && out.size() > 1000 ? 0 : 1;
}
