#pragma once

#include <QMessageBox>
#include <QPointer>

// The message boxes of the Modbus exchange. The exchange goes on while a box is open, so a
// box is shown without a nested event loop, and a fault that repeats while its box is still
// open updates that box instead of stacking another one: at most one box of each kind.
class ModbusMessageBoxes
{
public:
    enum Kind
    {
        PortNotOpened,
        WriteFailed,
        DeviceRemoved,
        NoGroups,
        KindCount
    };

    void show(Kind kind, QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text);
    // The open box of that kind, or null.
    QMessageBox* box(Kind kind) const { return boxes[kind]; }

private:
    QPointer<QMessageBox> boxes[KindCount];
};
