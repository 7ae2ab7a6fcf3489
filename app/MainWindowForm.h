#pragma once

#include "widgets/ResizableScrollArea.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QStackedWidget;
class QStatusBar;
class QToolBar;
class QWidget;

// The main window's form, built in code the way a form compiler would build it:
// fixed object names, texts through the translation function.
struct MainWindowForm
{
    QAction* action_Modbus = nullptr;
    QAction* menu_about = nullptr;
    QAction* action_pdf = nullptr;
    QAction* action_group_history = nullptr;
    QWidget* centralWidget = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* scrollAreaWidgetContents = nullptr;
    QPushButton* pb_stop_start = nullptr;
    QLabel* label_6 = nullptr;
    QComboBox* cmb_com = nullptr;
    QRadioButton* rb_values = nullptr;
    QRadioButton* rb_divergences = nullptr;
    QRadioButton* rb_journal = nullptr;
    QRadioButton* rb_settings = nullptr;
    QRadioButton* rb_no_group = nullptr;
    QRadioButton* rb_1_group = nullptr;
    QRadioButton* rb_2_group = nullptr;
    QRadioButton* rb_3_group = nullptr;
    QRadioButton* rb_4_group = nullptr;
    QRadioButton* rb_5_group = nullptr;
    QRadioButton* rb_6_group = nullptr;
    QCheckBox* chb_selection = nullptr;
    QPushButton* pb_confirm_crashes = nullptr;
    QLabel* logoImage = nullptr;
    QLabel* label_22 = nullptr;
    QLabel* label = nullptr;
    QLabel* label_help = nullptr;
    QStackedWidget* stacked_widget = nullptr;
    QWidget* page = nullptr;
    QWidget* page_2 = nullptr;
    QScrollArea* mkp_scroll = nullptr;
    ResizableScrollArea* deriv_container_scroll = nullptr;
    QMenuBar* menuBar = nullptr;
    QMenu* menuModbus_mode = nullptr;
    QMenu* menuAbout = nullptr;
    QMenu* menu = nullptr;
    QMenu* menuHistory = nullptr;
    QToolBar* mainToolBar = nullptr;
    QStatusBar* statusBar = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
