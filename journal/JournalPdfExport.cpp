// The journal's PDF export: the part of the journal that needs Qt's printing and dialogs.
#include "journal/Journal.h"
#include "journal/JournalPdf.h"

#include <QFileDialog>
#include <QMessageBox>

void Journal::exportPdf(int count)
{
    const QString chosen = m_chooser ? m_chooser()
                                     : QFileDialog::getSaveFileName(nullptr, tr("Save to PDF"), QString(),
                                                                    QStringLiteral("*.pdf"));
    if (chosen.isEmpty())
        return; // the dialog was cancelled
    const QString fileName = JournalPdf::fileNameFor(chosen);
    if (!exportPdfTo(fileName, count))
        QMessageBox::information(nullptr, tr("Ошибка!"), tr("Не удалось сохранить файл ") + fileName);
}

bool Journal::exportPdfTo(const QString& fileName, int count) const
{
    return JournalPdf::print(fileName, JournalPdf::document(recentEvents(count)));
}
