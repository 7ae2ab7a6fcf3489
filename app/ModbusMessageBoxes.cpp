#include "app/ModbusMessageBoxes.h"

void ModbusMessageBoxes::show(Kind kind, QMessageBox::Icon icon, QWidget* parent, const QString& title,
                              const QString& text)
{
    if (QMessageBox* open = boxes[kind]) {
        open->setText(text);
        return;
    }
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    boxes[kind] = box;
    box->show();
}
