#include "app/MainWindowForm.h"

#include "config/Named.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
template <typename Area = QScrollArea> Area* pageScrollArea(QWidget* page, const char* name)
{
    auto* area = named(new Area(page), name);
    area->setWidgetResizable(true);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    return area;
}
} // namespace

void MainWindowForm::setupUi(QMainWindow* window)
{
    window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(1166, 557);

    action_Modbus = named(new QAction(window), "action_Modbus");
    action_Modbus->setCheckable(true);
    action_Modbus->setChecked(true);
    menu_about = named(new QAction(window), "menu_about");
    action_pdf = named(new QAction(window), "action_pdf");
    action_group_history = named(new QAction(window), "action_group_history");

    centralWidget = named(new QWidget(window), "centralWidget");
    auto* centralLayout = new QVBoxLayout(centralWidget);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    scrollArea = named(new QScrollArea(centralWidget), "scrollArea");
    scrollArea->setWidgetResizable(true);
    // Every pixel counts at the form's own size: the pages scroll themselves, this area
    // only steps in on smaller screens.
    scrollArea->setFrameShape(QFrame::NoFrame);
    centralLayout->addWidget(scrollArea);
    scrollAreaWidgetContents = named(new QWidget(), "scrollAreaWidgetContents");
    auto* contentLayout = new QVBoxLayout(scrollAreaWidgetContents);
    contentLayout->setContentsMargins(3, 3, 3, 3);

    // Top bar: start/stop, port, page selector. Each band has its own container so
    // the page and group radio buttons stay two separate exclusive sets.
    auto* topBarWidget = named(new QWidget(scrollAreaWidgetContents), "topBar");
    auto* topBar = new QHBoxLayout(topBarWidget);
    topBar->setContentsMargins(0, 0, 0, 0);
    QWidget* top = topBarWidget;
    pb_stop_start = named(new QPushButton(top), "pb_stop_start");
    pb_stop_start->setMinimumWidth(90);
    label_6 = named(new QLabel(top), "label_6");
    cmb_com = named(new QComboBox(top), "cmb_com");
    cmb_com->setMinimumWidth(110);
    rb_values = named(new QRadioButton(top), "rb_values");
    rb_values->setChecked(true);
    rb_divergences = named(new QRadioButton(top), "rb_divergences");
    rb_journal = named(new QRadioButton(top), "rb_journal");
    rb_settings = named(new QRadioButton(top), "rb_settings");
    topBar->addWidget(pb_stop_start);
    topBar->addSpacing(12);
    topBar->addWidget(label_6);
    topBar->addWidget(cmb_com);
    topBar->addSpacing(24);
    for (QRadioButton* rb : {rb_values, rb_divergences, rb_journal, rb_settings})
        topBar->addWidget(rb);
    topBar->addStretch(1);
    contentLayout->addWidget(topBarWidget);

    // Below: the left column and the page stack.
    auto* body = new QHBoxLayout();
    auto* leftWidget = named(new QWidget(scrollAreaWidgetContents), "leftColumn");
    auto* left = new QVBoxLayout(leftWidget);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(3);
    QWidget* column = leftWidget;
    rb_no_group = named(new QRadioButton(column), "rb_no_group");
    rb_no_group->setChecked(true);
    rb_1_group = named(new QRadioButton(column), "rb_1_group");
    rb_2_group = named(new QRadioButton(column), "rb_2_group");
    rb_3_group = named(new QRadioButton(column), "rb_3_group");
    rb_4_group = named(new QRadioButton(column), "rb_4_group");
    rb_5_group = named(new QRadioButton(column), "rb_5_group");
    rb_6_group = named(new QRadioButton(column), "rb_6_group");
    for (QRadioButton* rb :
         {rb_no_group, rb_1_group, rb_2_group, rb_3_group, rb_4_group, rb_5_group, rb_6_group})
        left->addWidget(rb);
    left->addItem(new QSpacerItem(20, 8, QSizePolicy::Minimum, QSizePolicy::Fixed));
    chb_selection = named(new QCheckBox(column), "chb_selection");
    left->addWidget(chb_selection);
    left->addItem(new QSpacerItem(20, 8, QSizePolicy::Minimum, QSizePolicy::Fixed));
    pb_confirm_crashes = named(new QPushButton(column), "pb_confirm_crashes");
    pb_confirm_crashes->setMinimumHeight(40);
    left->addWidget(pb_confirm_crashes);
    left->addItem(new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Expanding));
    logoImage = named(new QLabel(column), "logoImage");
    logoImage->setPixmap(QPixmap(QStringLiteral(":/new/prefix1/LOGO.jpg")));
    logoImage->setScaledContents(true);
    logoImage->setFixedSize(120, 60);
    left->addWidget(logoImage, 0, Qt::AlignHCenter);
    label_22 = named(new QLabel(column), "label_22");
    QFont nameFont(QStringLiteral("Arial"), 12);
    nameFont.setBold(true);
    label_22->setFont(nameFont);
    label_22->setAlignment(Qt::AlignCenter);
    left->addWidget(label_22);
    label = named(new QLabel(column), "label");
    QFont versionFont = label->font();
    versionFont.setPointSize(9);
    label->setFont(versionFont);
    label->setAlignment(Qt::AlignCenter);
    left->addWidget(label);
    label_help = named(new QLabel(column), "label_help");
    label_help->setTextFormat(Qt::RichText);
    QFont helpFont = label_help->font();
    helpFont.setPointSize(11);
    label_help->setFont(helpFont);
    label_help->setAlignment(Qt::AlignCenter);
    left->addWidget(label_help);
    body->addWidget(leftWidget);

    stacked_widget = named(new QStackedWidget(scrollAreaWidgetContents), "stacked_widget");
    page = named(new QWidget(), "page");
    mkp_scroll = pageScrollArea(page, "mkp_scroll");
    stacked_widget->addWidget(page);
    page_2 = named(new QWidget(), "page_2");
    deriv_container_scroll = pageScrollArea<ResizableScrollArea>(page_2, "deriv_container_scroll");
    stacked_widget->addWidget(page_2);
    body->addWidget(stacked_widget, 1);
    contentLayout->addLayout(body, 1);

    scrollArea->setWidget(scrollAreaWidgetContents);
    window->setCentralWidget(centralWidget);

    menuBar = named(new QMenuBar(window), "menuBar");
    menuModbus_mode = named(new QMenu(menuBar), "menuModbus_mode");
    menuAbout = named(new QMenu(menuBar), "menuAbout");
    menu = named(new QMenu(menuBar), "menu");
    menuHistory = named(new QMenu(menuBar), "menuHistory");
    window->setMenuBar(menuBar);
    mainToolBar = named(new QToolBar(window), "mainToolBar");
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);
    statusBar = named(new QStatusBar(window), "statusBar");
    window->setStatusBar(statusBar);

    menuBar->addAction(menuModbus_mode->menuAction());
    menuBar->addAction(menuHistory->menuAction());
    menuBar->addAction(menuAbout->menuAction());
    menuBar->addAction(menu->menuAction());
    menuModbus_mode->addAction(action_Modbus);
    menuAbout->addAction(menu_about);
    menu->addAction(action_pdf);
    menuHistory->addAction(action_group_history);

    retranslateUi(window);
    // The group captions grow with the measured means. The column is as wide as a caption
    // with two-digit volts and degrees, so the pages beside it stay put when values come.
    const QRadioButton widestCaption(QStringLiteral("Группа 6 (Ucp=88,88 B, Tcp=88,8 °C)"));
    leftWidget->setFixedWidth(qMax(left->sizeHint().width(), widestCaption.sizeHint().width()));
    stacked_widget->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateUi(QMainWindow* window)
{
    auto tr = [](const char* text) { return QApplication::translate("MainWindow", text); };
    window->setWindowTitle(tr("ОРВИК-Монитор, версия 1.2"));
    action_Modbus->setText(tr("Режим Modbus"));
    menu_about->setText(tr("Номер версии"));
    action_pdf->setText(tr("Открыть pdf-файл документации"));
    action_pdf->setIconText(
        tr("Открыть pdf-файл документации (ORVIK-Monitor_manual.pdf) из той же папки, где и сама программа"));
    action_pdf->setToolTip(
        tr("Открыть pdf-файл документации (ORVIK-Monitor_manual.pdf) из той же папки, где и сама программа"));
    pb_stop_start->setText(tr("Старт"));
    label_6->setText(tr("COM-порт"));
    rb_values->setText(tr("Значения"));
    rb_divergences->setText(tr("Отклонения"));
    rb_journal->setText(tr("Журнал"));
    rb_settings->setText(tr("Настройки"));
    rb_no_group->setText(tr("Нет групп"));
    rb_1_group->setText(tr("Группа 1"));
    rb_2_group->setText(tr("Группа 2"));
    rb_3_group->setText(tr("Группа 3"));
    rb_4_group->setText(tr("Группа 4"));
    rb_5_group->setText(tr("Группа 5"));
    rb_6_group->setText(tr("Группа 6"));
    chb_selection->setText(tr("Скрыть незадействованные"));
    pb_confirm_crashes->setText(tr("Подтвердить аварии"));
    label_22->setText(tr("ОРВИК-Монитор"));
    label->setText(tr("версия 1.2"));
    label_help->setText(QString());
    menuModbus_mode->setTitle(tr("Режим"));
    menuAbout->setTitle(tr("О программе"));
    menu->setTitle(tr("Помощь"));
    menuHistory->setTitle(tr("История"));
    action_group_history->setText(tr("История группы…"));
}
