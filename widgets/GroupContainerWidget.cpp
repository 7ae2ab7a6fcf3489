#include "widgets/GroupContainerWidget.h"

#include "core/BatteryGroup.h"
#include "widgets/MKPGroupTemp.h"
#include "widgets/MKPGroupVolt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

GroupContainerWidget::GroupContainerWidget(QWidget* parent) : QWidget(parent), ui(new Ui)
{
    setObjectName(QStringLiteral("GroupContainerWidget"));
    setWindowTitle(QStringLiteral("Form"));
    resize(762, 380);
    setMinimumSize(QSize(400, 380));
    setMaximumSize(QSize(16777215, 420));

    ui->verticalLayout_2 = new QVBoxLayout(this);
    ui->verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    ui->verticalLayout = new QVBoxLayout();
    ui->verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    ui->horizontalLayout_2 = new QHBoxLayout();
    ui->horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    ui->horizontalSpacer = new QSpacerItem(100, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
    ui->horizontalLayout_2->addItem(ui->horizontalSpacer);

    ui->lb_group_number = new QLabel(this);
    ui->lb_group_number->setObjectName(QStringLiteral("lb_group_number"));
    ui->lb_group_number->setMaximumSize(QSize(16777215, 20));
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSize(14);
    font.setBold(true);
    font.setWeight(75);
    ui->lb_group_number->setFont(font);
    ui->lb_group_number->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    ui->horizontalLayout_2->addWidget(ui->lb_group_number);
    ui->verticalLayout->addLayout(ui->horizontalLayout_2);

    // The charts' maximum height lies below their minimum height, set in this order.
    ui->mkp_group_volt_widget = new MKPGroupVolt(this);
    ui->mkp_group_volt_widget->setObjectName(QStringLiteral("mkp_group_volt_widget"));
    ui->mkp_group_volt_widget->setMinimumSize(QSize(400, 160));
    ui->mkp_group_volt_widget->setMaximumSize(QSize(16777215, 150));
    ui->verticalLayout->addWidget(ui->mkp_group_volt_widget);

    ui->mkp_group_temp_widget = new MKPGroupTemp(this);
    ui->mkp_group_temp_widget->setObjectName(QStringLiteral("mkp_group_temp_widget"));
    ui->mkp_group_temp_widget->setMinimumSize(QSize(400, 160));
    ui->mkp_group_temp_widget->setMaximumSize(QSize(16777215, 150));
    ui->verticalLayout->addWidget(ui->mkp_group_temp_widget);

    ui->verticalLayout_2->addLayout(ui->verticalLayout);

    m_lastWidth = width();
    m_group = nullptr;
    connect(ui->mkp_group_temp_widget, SIGNAL(needParentWidthResize(int)), this,
            SLOT(handleChildResize(int)));
    connect(ui->mkp_group_volt_widget, SIGNAL(needParentWidthResize(int)), this,
            SLOT(handleChildResize(int)));
}

GroupContainerWidget::~GroupContainerWidget()
{
    delete ui;
}

void GroupContainerWidget::setTitle(const QString& title)
{
    ui->lb_group_number->setText(title);
}

void GroupContainerWidget::setGroup(BatteryGroup* group)
{
    ui->mkp_group_temp_widget->setGroup(group);
    ui->mkp_group_volt_widget->setGroup(group);
    m_group = group;
}

void GroupContainerWidget::setThresholds(AlarmThresholds* thresholds)
{
    ui->mkp_group_temp_widget->setThresholds(thresholds);
    ui->mkp_group_volt_widget->setThresholds(thresholds);
}

void GroupContainerWidget::setRunning(bool running)
{
    ui->mkp_group_temp_widget->setRunning(running);
    ui->mkp_group_volt_widget->setRunning(running);
}

void GroupContainerWidget::repaintCharts()
{
    ui->mkp_group_temp_widget->update();
    ui->mkp_group_volt_widget->update();
}

void GroupContainerWidget::handleChildResize(int width)
{
    if (!m_group || width == m_lastWidth)
        return;
    m_lastWidth = width;
    emit needResize(width, m_group->number());
}
