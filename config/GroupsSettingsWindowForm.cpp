#include "config/GroupsSettingsWindowForm.h"

#include "config/MailSettingsBox.h"
#include "config/ModbusTcpSettingsBox.h"
#include "config/MqttSettingsBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
template <typename T> T* named(T* object, const QString& name)
{
    object->setObjectName(name);
    return object;
}

QString numbered(const char* prefix, int group)
{
    return QString::fromLatin1(prefix) + QString::number(group);
}

QListWidget* batteryList(QWidget* parent, const QString& name, int minimumWidth)
{
    auto* list = named(new QListWidget(parent), name);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSortingEnabled(true);
    list->setMinimumSize(minimumWidth, 60);
    return list;
}

QPushButton* arrowButton(QWidget* parent, const QString& name, int side)
{
    auto* button = named(new QPushButton(parent), name);
    button->setFixedSize(side, side);
    return button;
}

QLineEdit* thresholdEdit(QWidget* parent, const char* name)
{
    auto* edit = named(new QLineEdit(parent), QString::fromLatin1(name));
    edit->setFixedWidth(64);
    return edit;
}
} // namespace

void GroupsSettingsWindowForm::setupUi(QWidget* page)
{
    page->setObjectName(QStringLiteral("GroupsSettingsWindow"));
    // The page scrolls itself: with the limits it is taller than the main window's own size,
    // and the main window never scrolls.
    auto* outerLayout = new QVBoxLayout(page);
    outerLayout->setContentsMargins(0, 0, 0, 0);
    scrollArea_settings = named(new QScrollArea(page), QStringLiteral("scrollArea_settings"));
    scrollArea_settings->setWidgetResizable(true);
    scrollArea_settings->setFrameShape(QFrame::NoFrame);
    outerLayout->addWidget(scrollArea_settings);
    QWidget* window = named(new QWidget(), QStringLiteral("settingsContents"));
    auto* pageLayout = new QVBoxLayout(window);
    pageLayout->setContentsMargins(4, 4, 4, 4);

    label = named(new QLabel(window), QStringLiteral("label"));
    QFont headingFont = label->font();
    headingFont.setPointSize(headingFont.pointSize() + 2);
    headingFont.setBold(true);
    label->setFont(headingFont);
    pageLayout->addWidget(label);

    auto* body = new QHBoxLayout();
    auto* leftGroups = new QVBoxLayout();
    auto* rightGroups = new QVBoxLayout();

    // Groups 1-3 stand left of the channel list and 4-6 right of it; every group's
    // buttons sit between its list and the channel list, arrows pointing where the
    // batteries go.
    for (int i = 0; i < groupCount; ++i) {
        const int group = i + 1;
        const bool leftSide = group <= 3;
        auto* block = new QVBoxLayout();
        label_group[i] = named(new QLabel(window), numbered("label_group", group));
        block->addWidget(label_group[i]);

        auto* fields = new QHBoxLayout();
        lb_adr[i] = named(new QLabel(window), numbered("lb_adr", group));
        sb_group[i] = named(new QSpinBox(window), numbered("sb_group", group));
        sb_group[i]->setRange(1, 247);
        lb_dat[i] = named(new QLabel(window), numbered("lb_dat", group));
        sb_d[i] = named(new QSpinBox(window), numbered("sb_d", group));
        sb_d[i]->setRange(0, 127);
        fields->addWidget(lb_adr[i]);
        fields->addWidget(sb_group[i]);
        fields->addSpacing(2);
        fields->addWidget(lb_dat[i]);
        fields->addWidget(sb_d[i]);
        fields->addStretch(1);
        block->addLayout(fields);

        // Narrow enough that the lists and the page's own scroll bar fit the main window.
        listWidget_group[i] = batteryList(window, numbered("listWidget_group", group), 120);
        pbInGroup[i] = arrowButton(window, numbered("pbInGroup", group), 20);
        pbOutGroup[i] = arrowButton(window, numbered("pbOutGroup", group), 20);
        pbOutAllGroup[i] = arrowButton(window, numbered("pbOutAllGroup", group), 30);
        auto* buttons = new QVBoxLayout();
        buttons->addStretch(1);
        buttons->addWidget(pbInGroup[i], 0, Qt::AlignHCenter);
        buttons->addWidget(pbOutGroup[i], 0, Qt::AlignHCenter);
        buttons->addSpacing(4);
        buttons->addWidget(pbOutAllGroup[i], 0, Qt::AlignHCenter);
        buttons->addStretch(1);
        auto* listRow = new QHBoxLayout();
        if (leftSide) {
            listRow->addWidget(listWidget_group[i], 1);
            listRow->addLayout(buttons);
        } else {
            listRow->addLayout(buttons);
            listRow->addWidget(listWidget_group[i], 1);
        }
        block->addLayout(listRow, 1);
        (leftSide ? leftGroups : rightGroups)->addLayout(block, 1);
    }

    auto* channels = new QVBoxLayout();
    label_channels = named(new QLabel(window), QStringLiteral("label_channels"));
    listWidget_channels = batteryList(window, QStringLiteral("listWidget_channels"), 120);
    channels->addWidget(label_channels);
    channels->addWidget(listWidget_channels, 1);

    body->addLayout(leftGroups, 1);
    body->addLayout(channels, 1);
    body->addLayout(rightGroups, 1);
    body->addSpacing(8);

    // Thresholds, sounds, journal size, mode, and the two buttons.
    auto* options = new QVBoxLayout();
    auto* grid = new QGridLayout();
    label_warning = named(new QLabel(window), QStringLiteral("label_warning"));
    label_crash = named(new QLabel(window), QStringLiteral("label_crash"));
    label_voltUpper = named(new QLabel(window), QStringLiteral("label_voltUpper"));
    label_voltLower = named(new QLabel(window), QStringLiteral("label_voltLower"));
    label_temp = named(new QLabel(window), QStringLiteral("label_temp"));
    label_sound = named(new QLabel(window), QStringLiteral("label_sound"));
    label_unitUpper = named(new QLabel(window), QStringLiteral("label_unitUpper"));
    label_unitLower = named(new QLabel(window), QStringLiteral("label_unitLower"));
    label_unitTemp = named(new QLabel(window), QStringLiteral("label_unitTemp"));
    lineEdit_warnUpperThreshold = thresholdEdit(window, "lineEdit_warnUpperThreshold");
    lineEdit_crashUpperThreshold = thresholdEdit(window, "lineEdit_crashUpperThreshold");
    lineEdit_warnLowerThreshold = thresholdEdit(window, "lineEdit_warnLowerThreshold");
    lineEdit_crashLowerThreshold = thresholdEdit(window, "lineEdit_crashLowerThreshold");
    lineEdit_warnTempThreshold = thresholdEdit(window, "lineEdit_warnTempThreshold");
    lineEdit_crashTempThreshold = thresholdEdit(window, "lineEdit_crashTempThreshold");
    checkBox_warnSound = named(new QCheckBox(window), QStringLiteral("checkBox_warnSound"));
    checkBox_crashSound = named(new QCheckBox(window), QStringLiteral("checkBox_crashSound"));
    // Each threshold's name stands above its two fields, so the column stays narrow
    // enough for the page to fit the main window beside the six lists.
    grid->addWidget(label_warning, 0, 0, Qt::AlignHCenter);
    grid->addWidget(label_crash, 0, 1, Qt::AlignHCenter);
    const struct
    {
        QLabel* name;
        QLineEdit* warning;
        QLineEdit* crash;
        QLabel* unit;
    } rows[] = {{label_voltUpper, lineEdit_warnUpperThreshold, lineEdit_crashUpperThreshold, label_unitUpper},
                {label_voltLower, lineEdit_warnLowerThreshold, lineEdit_crashLowerThreshold, label_unitLower},
                {label_temp, lineEdit_warnTempThreshold, lineEdit_crashTempThreshold, label_unitTemp}};
    int gridRow = 1;
    for (const auto& row : rows) {
        grid->addWidget(row.name, gridRow++, 0, 1, 3);
        grid->addWidget(row.warning, gridRow, 0, Qt::AlignHCenter);
        grid->addWidget(row.crash, gridRow, 1, Qt::AlignHCenter);
        grid->addWidget(row.unit, gridRow++, 2);
    }
    grid->addWidget(checkBox_warnSound, gridRow, 0, Qt::AlignHCenter);
    grid->addWidget(checkBox_crashSound, gridRow, 1, Qt::AlignHCenter);
    grid->addWidget(label_sound, gridRow, 2);
    options->addLayout(grid);
    options->addSpacing(8);

    auto* journalRow = new QHBoxLayout();
    label_2 = named(new QLabel(window), QStringLiteral("label_2"));
    lineEdit_journalSize = named(new QLineEdit(window), QStringLiteral("lineEdit_journalSize"));
    lineEdit_journalSize->setFixedWidth(64);
    journalRow->addWidget(label_2);
    journalRow->addWidget(lineEdit_journalSize);
    journalRow->addStretch(1);
    options->addLayout(journalRow);
    options->addSpacing(8);

    groupBox = named(new QGroupBox(window), QStringLiteral("groupBox"));
    auto* modeLayout = new QHBoxLayout(groupBox);
    rbModeModbus = named(new QRadioButton(groupBox), QStringLiteral("rbModeModbus"));
    rbModeOrvik = named(new QRadioButton(groupBox), QStringLiteral("rbModeOrvik"));
    modeLayout->addWidget(rbModeModbus);
    modeLayout->addWidget(rbModeOrvik);
    modeLayout->addStretch(1);
    options->addWidget(groupBox);
    options->addSpacing(8);

    auto* applyRow = new QHBoxLayout();
    pushButton_apply = named(new QPushButton(window), QStringLiteral("pushButton_apply"));
    pushButton_cancel = named(new QPushButton(window), QStringLiteral("pushButton_cancel"));
    pushButton_apply->setMinimumSize(90, 30);
    pushButton_cancel->setMinimumSize(90, 30);
    applyRow->addStretch(1);
    applyRow->addWidget(pushButton_apply);
    applyRow->addWidget(pushButton_cancel);
    options->addLayout(applyRow);
    // The buttons stay up with the fields: the main window may show only the top of the page.
    options->addStretch(1);

    body->addLayout(options);
    pageLayout->addLayout(body, 1);

    // Below the lists, as wide as the page: the table needs the width, and the main window
    // scrolls down to it. Communication loss on the line under the table.
    groupBox_limits = named(new QGroupBox(window), QStringLiteral("groupBox_limits"));
    auto* limitsLayout = new QVBoxLayout(groupBox_limits);
    tableWidget_limits = named(new QTableWidget(groupBox_limits), QStringLiteral("tableWidget_limits"));
    tableWidget_limits->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tableWidget_limits->verticalHeader()->setMinimumSectionSize(22);
    tableWidget_limits->verticalHeader()->setDefaultSectionSize(22);
    tableWidget_limits->horizontalHeader()->setMinimumSectionSize(40);
    tableWidget_limits->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tableWidget_limits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableWidget_limits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tableWidget_limits->setRowCount(7);
    tableWidget_limits->setColumnCount(8);
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 8; ++c)
            tableWidget_limits->setItem(r, c, new QTableWidgetItem());
    limitsLayout->addWidget(tableWidget_limits);
    auto* commRow = new QHBoxLayout();
    checkBox_commLoss = named(new QCheckBox(groupBox_limits), QStringLiteral("checkBox_commLoss"));
    label_commLossSweeps = named(new QLabel(groupBox_limits), QStringLiteral("label_commLossSweeps"));
    spinBox_commLossSweeps = named(new QSpinBox(groupBox_limits), QStringLiteral("spinBox_commLossSweeps"));
    spinBox_commLossSweeps->setRange(1, 100);
    commRow->addWidget(checkBox_commLoss);
    commRow->addSpacing(12);
    commRow->addWidget(label_commLossSweeps);
    commRow->addWidget(spinBox_commLossSweeps);
    commRow->addStretch(1);
    limitsLayout->addLayout(commRow);
    pageLayout->addWidget(groupBox_limits);
    groupBox_mqtt = new MqttSettingsBox(window);
    pageLayout->addWidget(groupBox_mqtt);
    groupBox_modbusTcp = new ModbusTcpSettingsBox(window);
    pageLayout->addWidget(groupBox_modbusTcp);
    groupBox_mail = new MailSettingsBox(window);
    pageLayout->addWidget(groupBox_mail);

    scrollArea_settings->setWidget(window);
    retranslateUi(page);
    // All seven rows and the two-line header show: the table never scrolls by itself.
    const int headerHeight = 2 * tableWidget_limits->fontMetrics().lineSpacing() + 8;
    tableWidget_limits->horizontalHeader()->setFixedHeight(headerHeight);
    tableWidget_limits->setFixedHeight(headerHeight + 7 * 22 + 2 * tableWidget_limits->frameWidth());
    QMetaObject::connectSlotsByName(page);
}

void GroupsSettingsWindowForm::retranslateUi(QWidget* window)
{
    auto tr = [](const char* text) { return QApplication::translate("GroupsSettingsWindow", text); };
    window->setWindowTitle(tr("Form"));
    label->setText(tr("Настройка групп АБ"));
    label_channels->setText(tr("Каналы ОРВИК-М"));
    for (int i = 0; i < groupCount; ++i) {
        const bool leftSide = i < 3;
        label_group[i]->setText(tr("Группа %1").arg(i + 1));
        pbInGroup[i]->setText(leftSide ? tr("<") : tr(">"));
        pbOutGroup[i]->setText(leftSide ? tr(">") : tr("<"));
        pbOutAllGroup[i]->setText(leftSide ? tr(">>") : tr("<<"));
        lb_adr[i]->setText(tr("Адрес:"));
        sb_group[i]->setToolTip(tr("адрес устройства Modbus"));
        lb_dat[i]->setText(tr("Датчик:"));
    }
    label_warning->setText(tr("Предупреждение"));
    label_crash->setText(tr("Авария"));
    label_voltUpper->setText(tr("Порог по напряжению (верх)"));
    label_voltLower->setText(tr("Порог по напряжению (низ)"));
    label_temp->setText(tr("Порог по температуре"));
    label_sound->setText(tr("Звук"));
    label_unitUpper->setText(tr("мВ"));
    label_unitLower->setText(tr("мВ"));
    label_unitTemp->setText(tr("°C"));
    label_2->setText(tr("Размер журнала (в МБ)"));
    groupBox->setTitle(tr("Режим работы:"));
    rbModeModbus->setText(tr("Modbus"));
    rbModeOrvik->setText(tr("ОРВИК-x"));
    groupBox_limits->setTitle(tr("Абсолютные пределы, В и °C: пустая ячейка - предел выключен"));
    tableWidget_limits->setHorizontalHeaderLabels({tr("U>\nпредупр."), tr("U>\nавария"), tr("U<\nпредупр."),
                                                   tr("U<\nавария"), tr("T>\nпредупр."), tr("T>\nавария"),
                                                   tr("T<\nпредупр."), tr("T<\nавария")});
    QStringList rows{tr("Установка")};
    for (int g = 1; g <= groupCount; ++g)
        rows << tr("Группа %1").arg(g);
    tableWidget_limits->setVerticalHeaderLabels(rows);
    checkBox_commLoss->setText(tr("Авария при потере связи"));
    label_commLossSweeps->setText(tr("Нет связи после опросов без ответа:"));
    pushButton_apply->setText(tr("Применить"));
    pushButton_cancel->setText(tr("Отмена"));
}
