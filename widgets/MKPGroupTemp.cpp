#include "widgets/MKPGroupTemp.h"

#include "core/AlarmThresholds.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

#include <QLabel>

MKPGroupTemp::MKPGroupTemp(QWidget* parent) : DeviationChart("MKPGroupTemp", parent), ui(new Ui)
{
    ui->label_2 = new QLabel(this);
    ui->label_2->setObjectName(QStringLiteral("label_2"));
    ui->label_2->setGeometry(QRect(10, 10, 91, 16));
    ui->label_2->setText(tr("<html><head/><body><p>Температура, <span style=\" "
                            "vertical-align:super;\">o</span>C</p></body></html>"));
    fitCaption(ui->label_2);
}

MKPGroupTemp::~MKPGroupTemp()
{
    delete ui;
}

DeviationChart::Scale MKPGroupTemp::scaleOf(const AlarmThresholds& t) const
{
    return {t.tempEmergency, t.tempEmergency, t.tempWarning, t.tempWarning};
}

double MKPGroupTemp::readingOf(const Battery& battery) const
{
    return battery.temperature();
}

int MKPGroupTemp::stateOf(const Battery& battery) const
{
    return battery.tempState();
}

double MKPGroupTemp::meanOf(BatteryGroup& group) const
{
    return group.meanTemperature();
}
