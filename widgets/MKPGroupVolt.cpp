#include "widgets/MKPGroupVolt.h"

#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

#include <QLabel>

MKPGroupVolt::MKPGroupVolt(QWidget* parent) : DeviationChart("MKPGroupVolt", parent), ui(new Ui)
{
    ui->label = new QLabel(this);
    ui->label->setObjectName(QStringLiteral("label"));
    ui->label->setGeometry(QRect(10, 10, 81, 16));
    // The unit is the Cyrillic В.
    ui->label->setText(tr("Напряжение, В"));
    fitCaption(ui->label);
}

MKPGroupVolt::~MKPGroupVolt()
{
    delete ui;
}

DeviationChart::Scale MKPGroupVolt::scaleOf(const AlarmThresholds& t) const
{
    return {t.voltHighEmergency, t.voltLowEmergency, t.voltHighWarning, t.voltLowWarning};
}

double MKPGroupVolt::readingOf(const Battery& battery) const
{
    return battery.voltage();
}

int MKPGroupVolt::stateOf(const Battery& battery) const
{
    return battery.voltState();
}

double MKPGroupVolt::meanOf(BatteryGroup& group) const
{
    return group.meanVoltage();
}
