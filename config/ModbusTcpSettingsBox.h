#pragma once

#include <QGroupBox>

class QCheckBox;
class QLineEdit;
class QSpinBox;
class Settings;

// The settings page's section for the read-only Modbus TCP server the plant's SCADA polls.
// Only read() hands its values to the record, and only when all hold.
class ModbusTcpSettingsBox : public QGroupBox
{
    Q_OBJECT
public:
    explicit ModbusTcpSettingsBox(QWidget* parent = nullptr);

    // The fields into the Modbus TCP record of *into; false, *into untouched and *whyNot the
    // operator's reason, when a field cannot stand.
    bool read(Settings* into, QString* whyNot) const;
    void fill(const Settings& settings);

private:
    QCheckBox* enabled;
    QLineEdit* address;
    QSpinBox* port;
    QSpinBox* unit;
    QLineEdit* allow;
};
