// The main window as the operator first sees it: form, groups, mode display.
#include "../common/WindowInFolder.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/ProgramMode.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "widgets/MKPWidget.h"

#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

template <typename T> T* child(QWidget* w, const char* name)
{
    return w->findChild<T*>(QString::fromLatin1(name));
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void formTexts_data();
    void formTexts();
    void defaultsWithoutSettings();
    void groupsFromSettings();
    void storedPortNotPresent();
    void captionsAreIdleAtStart();
    void windowSize();
    void rowLabels_data();
    void rowLabels();
    void applyModeSwitchesDisplay();
    void aboutShowsBuildStamp();
    void startAndCloseWriteNoFile();
};

void TestMainWindow::initTestCase()
{
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: rendered texts would be blank");
}

void TestMainWindow::formTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QList<QPair<const char*, const char*>> rows = {
        {"pb_stop_start", "Старт"},
        {"label_6", "COM-порт"},
        {"rb_values", "Значения"},
        {"rb_divergences", "Отклонения"},
        {"rb_journal", "Журнал"},
        {"rb_settings", "Настройки"},
        {"rb_no_group", "Нет групп"},
        {"chb_selection", "Скрыть незадействованные"},
        {"pb_confirm_crashes", "Подтвердить аварии"},
        {"label_22", "ОРВИК-Монитор"},
        {"label", "версия 1.2"},
        {"label_help", ""},
    };
    for (const auto& row : rows)
        QTest::newRow(row.first) << QString::fromLatin1(row.first) << QString::fromUtf8(row.second);
}

void TestMainWindow::formTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    WindowInFolder w;
    QObject* object = w.window->findChild<QObject*>(name);
    QVERIFY2(object, qPrintable(name));
    QCOMPARE(object->property("text").toString(), text);
}

void TestMainWindow::defaultsWithoutSettings()
{
    WindowInFolder w;
    QCOMPARE(w.window->windowTitle(), QString("ОРВИК-Монитор, версия 1.2"));
    QCOMPARE(w.window->objectName(), QString("MainWindow"));
    QVERIFY(!modbusMode);
    QCOMPARE(w.window->form()->menuModbus_mode->title(), QString("Текущий режим: ОРВИК-x"));
    QVERIFY(!w.window->form()->action_Modbus->isChecked());
    QCOMPARE(w.window->form()->action_Modbus->text(), QString("Режим Modbus"));
    QCOMPARE(w.window->form()->menuAbout->title(), QString("О программе"));
    QCOMPARE(w.window->form()->menu->title(), QString("Помощь"));
    QCOMPARE(w.window->form()->action_pdf->text(), QString("Открыть pdf-файл документации"));
    QVERIFY(w.window->form()->rb_values->isChecked());
    QVERIFY(w.window->form()->rb_no_group->isChecked());
    QCOMPARE(w.window->form()->stacked_widget->currentWidget(),
             static_cast<QWidget*>(w.window->form()->mkp_scroll));
    QCOMPARE(w.window->form()->stacked_widget->indexOf(w.window->form()->deriv_container_scroll), 1);
    QVERIFY(!w.window->form()->logoImage->pixmap(Qt::ReturnByValue).isNull());

    const auto& rows = w.window->rows();
    QCOMPARE(rows.size(), 16);
    for (int m = 0; m < 16; ++m) {
        QCOMPARE(rows[m].size(), 8);
        for (int p = 0; p < 8; ++p) {
            const Battery* b = rows[m][p];
            QCOMPARE(b->id(), m * 8 + p);
            QCOMPARE(b->msdIndex(), m);
            QCOMPARE(b->mkpIndex(), p);
            QCOMPARE(b->groupNumber(), 0);
            QCOMPARE(b->state(), 0);
            QVERIFY(b->widget());
            QCOMPARE(b->thresholds(), &w.window->thresholdRecord());
        }
    }
    QCOMPARE(w.window->batteryGroups().size(), 9);
    QCOMPARE(w.window->batteryGroups()[0]->batteryCount(), 128);
    QVERIFY(w.window->exchangeStatus()->isHidden());
    QVERIFY(w.window->retryStatus()->isHidden());
}

void TestMainWindow::groupsFromSettings()
{
    WindowInFolder w(settingsWith("<mode>true</mode>"
                                  "<group_id msd=\"0\" mkp=\"3\">2</group_id>"
                                  "<group_id msd=\"3\" mkp=\"0\">2</group_id>"
                                  "<group_id msd=\"15\" mkp=\"7\">6</group_id>"));
    QVERIFY(modbusMode);
    QCOMPARE(w.window->form()->menuModbus_mode->title(), QString("Текущий режим: Modbus"));
    QVERIFY(w.window->form()->action_Modbus->isChecked());
    const auto& groups = w.window->batteryGroups();
    QCOMPARE(groups[2]->batteryCount(), 2);
    QCOMPARE(groups[2]->batteryAt(0)->id(), 3); // in battery order
    QCOMPARE(groups[2]->batteryAt(1)->id(), 24);
    QCOMPARE(groups[6]->batteryAt(0)->id(), 127);
    QCOMPARE(groups[0]->batteryCount(), 125);
    QCOMPARE(groups[2]->batteryAt(1)->widget()->batteryNumber(), 1);
    QVERIFY(!w.window->exchangeStatus()->isHidden());
    modbusMode = false;
}

void TestMainWindow::storedPortNotPresent()
{
    WindowInFolder w(settingsWith("<com_port>ttyNOPE9</com_port>"));
    // Ports come with the native link; the selector keeps its first item (none here).
    QCOMPARE(w.window->form()->cmb_com->currentIndex(), w.window->form()->cmb_com->count() > 0 ? 0 : -1);
    QCOMPARE(w.window->settingsRecord().comPort(), QString("ttyNOPE9"));
}

void TestMainWindow::captionsAreIdleAtStart()
{
    WindowInFolder w(settingsWith("<group_id msd=\"0\" mkp=\"0\">1</group_id>"));
    const char* names[] = {"rb_1_group", "rb_2_group", "rb_3_group",
                           "rb_4_group", "rb_5_group", "rb_6_group"};
    for (int k = 1; k <= 6; ++k) {
        auto* rb = child<QRadioButton>(w.window.get(), names[k - 1]);
        QCOMPARE(rb->text(), QStringLiteral("Группа %1 (Ucp=0,00 B, Tcp=0,0 °C)").arg(k));
    }
}

void TestMainWindow::windowSize()
{
    WindowInFolder w;
    QCOMPARE(w.window->minimumSize(), QSize(750, 450));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(w.window->width(), qMin(1166, qMax(750, available.width())));
    QCOMPARE(w.window->height(), qMin(557, qMax(450, available.height())));
}

void TestMainWindow::rowLabels_data()
{
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QString>("corner");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("native") << false << "МКП"
                            << "МСД №0"
                            << "МСД №15";
    QTest::newRow("modbus") << true << ""
                            << "№ 0"
                            << "№ 120";
}

void TestMainWindow::rowLabels()
{
    QFETCH(bool, modbus);
    QFETCH(QString, corner);
    QFETCH(QString, first);
    QFETCH(QString, last);
    WindowInFolder w(settingsWith(modbus ? "<mode>true</mode>" : "<mode>false</mode>"));
    auto texts = [&] {
        QStringList all;
        for (QLabel* l : w.window->findChildren<QLabel*>())
            all << l->text();
        return all;
    };
    QCOMPARE(child<QLabel>(w.window.get(), "cornerLabel")->text(), corner);
    QVERIFY(texts().contains(first));
    QVERIFY(texts().contains(last));
    // Switching the mode relabels the rows, the corner keeps its text.
    modbusMode = !modbus;
    applyMode(!modbus);
    QCOMPARE(child<QLabel>(w.window.get(), "cornerLabel")->text(), corner);
    QVERIFY(!texts().contains(first));
    QVERIFY(texts().contains(modbus ? "МСД №15" : "№ 120"));
    modbusMode = false;
}

void TestMainWindow::applyModeSwitchesDisplay()
{
    WindowInFolder w;
    w.window->show();
    applyMode(true);
    QCOMPARE(w.window->form()->menuModbus_mode->title(), QString("Текущий режим: Modbus"));
    QVERIFY(w.window->form()->action_Modbus->isChecked());
    QVERIFY(w.window->exchangeStatus()->isVisible());
    QVERIFY(!modbusMode); // applyMode shows the mode, it does not set it
    applyMode(false);
    QCOMPARE(w.window->form()->menuModbus_mode->title(), QString("Текущий режим: ОРВИК-x"));
    QVERIFY(!w.window->form()->action_Modbus->isChecked());
    QVERIFY(!w.window->retryStatus()->isVisible());
}

void TestMainWindow::aboutShowsBuildStamp()
{
    WindowInFolder w;
    const QRegularExpression stamp("^Build [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}$");
    QVERIFY2(stamp.match(w.window->form()->menu_about->text()).hasMatch(),
             qPrintable(w.window->form()->menu_about->text()));
}

void TestMainWindow::startAndCloseWriteNoFile()
{
    QString folder;
    {
        WindowInFolder w;
        folder = w.dir.path();
        w.window->show();
        QCoreApplication::processEvents();
        // The journal starts its file and the history its database; no settings are written.
        QStringList files = QDir(folder).entryList(QDir::Files);
        QVERIFY(files.contains("history.sqlite"));
        files = files.filter(QRegularExpression("^(?!history\\.sqlite)"));
        QCOMPARE(files, QStringList{"journal.html"});
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
