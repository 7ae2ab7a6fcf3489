#include "config/ModbusTcpSettingsBox.h"

#include "config/ModbusTcpAllowList.h"
#include "config/Named.h"
#include "config/Settings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>

namespace {
// QHostAddress also takes the short forms "10.1" and "1.2.3"; a listening address written
// that way is a typing slip more often than meant, so IPv4 needs all four parts.
bool isListenAddress(const QString& text)
{
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    const QHostAddress parsed(text);
    return !parsed.isNull() && (text.contains(QLatin1Char(':')) || dotted.match(text).hasMatch());
}

QString serverProblem(const QString& address, const QString& allow)
{
    if (!isListenAddress(address))
        return ModbusTcpSettingsBox::tr("Адрес сервера Modbus TCP «%1» не адрес IPv4 или IPv6 "
                                        "(0.0.0.0 — все интерфейсы).")
            .arg(address);
    QString why;
    ModbusTcpAllowList list;
    if (!list.parse(allow, &why))
        return ModbusTcpSettingsBox::tr("Допущенные адреса Modbus TCP: %1.").arg(why);
    return QString();
}
} // namespace

ModbusTcpSettingsBox::ModbusTcpSettingsBox(QWidget* parent)
    : QGroupBox(tr("Сервер Modbus TCP (для системы диспетчеризации)"), parent),
      enabled(named(new QCheckBox(tr("Включить сервер"), this), "checkBox_modbusTcpEnabled")),
      address(named(new QLineEdit(this), "lineEdit_modbusTcpAddress")),
      port(named(new QSpinBox(this), "spinBox_modbusTcpPort")),
      unit(named(new QSpinBox(this), "spinBox_modbusTcpUnit")),
      allow(named(new QLineEdit(this), "lineEdit_modbusTcpAllow"))
{
    setObjectName(QStringLiteral("groupBox_modbusTcp"));
    port->setRange(1, 65535);
    port->setValue(Settings::defaultModbusTcpPort);
    unit->setRange(1, 247);
    address->setPlaceholderText(QStringLiteral("0.0.0.0"));
    address->setToolTip(tr("0.0.0.0 — все сетевые интерфейсы"));
    allow->setPlaceholderText(tr("все (например 10.1.0.0/16, 192.168.5.7)"));
    auto* note = new QLabel(tr("Адрес 0.0.0.0 — все сетевые интерфейсы; порт 502 требует прав "
                               "администратора."),
                            this);
    note->setWordWrap(true);

    // The same two columns as the MQTT section above.
    auto* grid = new QGridLayout(this);
    auto addField = [this, grid](int row, int column, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        grid->addWidget(label, row, column);
        grid->addWidget(field, row, column + 1);
    };
    grid->addWidget(enabled, 0, 0, 1, 2);
    addField(0, 2, tr("Номер устройства (unit)"), unit);
    addField(1, 0, tr("Адрес"), address);
    addField(1, 2, tr("Порт"), port);
    auto* allowLabel = new QLabel(tr("Допущенные адреса"), this);
    allowLabel->setBuddy(allow);
    grid->addWidget(allowLabel, 2, 0);
    grid->addWidget(allow, 2, 1, 1, 3);
    grid->addWidget(note, 3, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    auto updateEnabled = [this] {
        for (QWidget* field : std::initializer_list<QWidget*>{address, port, unit, allow})
            field->setEnabled(enabled->isChecked());
    };
    connect(enabled, &QCheckBox::toggled, this, updateEnabled);
    updateEnabled();
}

void ModbusTcpSettingsBox::fill(const Settings& settings)
{
    const Settings::ModbusTcp& server = settings.modbusTcp();
    enabled->setChecked(server.enabled);
    address->setText(server.address);
    port->setValue(server.port);
    unit->setValue(server.unit);
    allow->setText(server.allow);
}

bool ModbusTcpSettingsBox::read(Settings* into, QString* whyNot) const
{
    // Switched off, the fields are kept as they are and judged when the server is on.
    const QString why =
        enabled->isChecked() ? serverProblem(address->text().trimmed(), allow->text()) : QString();
    if (!why.isEmpty()) {
        *whyNot = why;
        return false;
    }
    Settings::ModbusTcp server;
    server.enabled = enabled->isChecked();
    server.address = address->text().trimmed();
    server.port = port->value();
    server.unit = unit->value();
    server.allow = allow->text().trimmed();
    into->setModbusTcp(server);
    return true;
}
