// The main window through the operator's controls: the batteries and groups it builds, group
// selection, hiding ungrouped tiles, the pages and the deviation page scroll, the mode switch,
// a failed start, the native stop after a lost line or with a sweep still running, the exit
// question, the manual, and the window at its own size.
#include "../common/PtyLine.h"
#include "../common/SimulatedLine.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "app/ProgramMode.h"
#include "core/BatteryGroup.h"
#include "link/WorkerObject.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/MKPWidget.h"
#include "widgets/ResizableScrollArea.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QStackedWidget>
#include <QtTest>

namespace {
// Batteries 0..7 in group 1, 8..15 in group 3, 16..23 in group 4.
QByteArray threeGroups()
{
    QByteArray xml;
    for (int i = 0; i < 24; ++i)
        xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                   .arg(i / 8)
                   .arg(i % 8)
                   .arg(i < 8    ? 1
                        : i < 16 ? 3
                                 : 4)
                   .toUtf8();
    return settingsWith(xml);
}

// The window shown in a scratch folder; message boxes are recorded instead of shown.
struct Rig : WindowInFolder
{
    QStringList messages;
    explicit Rig(const QString& port = QString(), const QByteArray& settings = threeGroups())
        : WindowInFolder(settings, {}, port)
    {
        MainWindow::showMessage = [this](QMessageBox::Icon icon, QWidget*, const QString& title,
                                         const QString& text) {
            messages << QString("%1|%2|%3").arg(int(icon)).arg(title, text);
        };
        window->show();
    }
    ~Rig() { modbusMode = false; }
    MainWindowForm* ui() const { return window->form(); }
    QStringList labels() const
    {
        QStringList all;
        for (QLabel* l : ui()->mkp_scroll->findChildren<QLabel*>())
            all << l->text();
        return all;
    }
};

void clickRadio(QAbstractButton* radio)
{
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(8, radio->height() / 2));
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: texts would be blank"); }
    void batteriesWithoutSettings();
    void groupsFromSettings();
    void startWritesOnlyTheJournal();
    void groupSelection();
    void hideUngrouped();
    void pages();
    void scrollToGroup4();
    void modeSwitchRelabelsRows();
    void fitsItsOwnSize();
    void failedStartUnlocks_data();
    void failedStartUnlocks();
    void stopAfterLineLost();
    void startWhileLastSweepRuns();
    void exitQuestion_data();
    void exitQuestion();
    void manualMissingBesideTheProgram();
};

void TestMainWindow::batteriesWithoutSettings()
{
    Rig rig{QString(), QByteArray()};
    QVERIFY(!modbusMode);
    QCOMPARE(rig.ui()->menuModbus_mode->title(), QString("Текущий режим: ОРВИК-x"));
    QVERIFY(!rig.ui()->action_Modbus->isChecked());
    QCOMPARE(rig->rows().size(), 16);
    for (int id = 0; id < 128; ++id) {
        const Battery* b = rig.battery(id);
        QCOMPARE(
            QString("%1 %2:%3 %4").arg(b->id()).arg(b->msdIndex()).arg(b->mkpIndex()).arg(b->groupNumber()),
            QString("%1 %2:%3 0").arg(id).arg(id / 8).arg(id % 8));
        QVERIFY(b->widget() && b->thresholds() == &rig->thresholdRecord() && rig->rows()[id / 8].size() == 8);
    }
    QCOMPARE(rig->batteryGroups().size(), 9);
    QCOMPARE(rig->batteryGroups()[0]->batteryCount(), 128);
    QVERIFY(rig->exchangeStatus()->isHidden());
    QVERIFY(rig->retryStatus()->isHidden());
    const QRegularExpression stamp("^Build [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}$");
    QVERIFY2(stamp.match(rig.ui()->menu_about->text()).hasMatch(), qPrintable(rig.ui()->menu_about->text()));
}

void TestMainWindow::groupsFromSettings()
{
    Rig rig(QString(), settingsWith("<mode>true</mode><com_port>ttyNOPE9</com_port>"
                                    "<group_id msd=\"0\" mkp=\"3\">2</group_id>"
                                    "<group_id msd=\"3\" mkp=\"0\">2</group_id>"
                                    "<group_id msd=\"15\" mkp=\"7\">6</group_id>"));
    QVERIFY(modbusMode);
    QCOMPARE(rig.ui()->menuModbus_mode->title(), QString("Текущий режим: Modbus"));
    QVERIFY(rig.ui()->action_Modbus->isChecked());
    QVERIFY(rig.labels().contains("№ 120"));
    const auto& groups = rig->batteryGroups();
    QCOMPARE(groups[2]->batteryCount(), 2);
    QCOMPARE(groups[2]->batteryAt(0)->id(), 3); // in battery order
    QCOMPARE(groups[2]->batteryAt(1)->id(), 24);
    QCOMPARE(groups[6]->batteryAt(0)->id(), 127);
    QCOMPARE(groups[0]->batteryCount(), 125);
    QCOMPARE(groups[2]->batteryAt(1)->widget()->batteryNumber(), 1);
    QVERIFY(!rig->exchangeStatus()->isHidden());
    // A stored port that is not there: the selector keeps its first item (none here).
    QCOMPARE(rig.ui()->cmb_com->currentIndex(), rig.ui()->cmb_com->count() > 0 ? 0 : -1);
    QCOMPARE(rig->settingsRecord().comPort(), QString("ttyNOPE9"));
}

void TestMainWindow::startWritesOnlyTheJournal()
{
    Rig rig{QString(), QByteArray()};
    QCoreApplication::processEvents();
    // The journal starts its file and the history its database; no settings are written.
    const QStringList files = QDir(rig.dir.path()).entryList(QDir::Files);
    QVERIFY(files.contains("history.sqlite"));
    QCOMPARE(files.filter(QRegularExpression("^(?!history\\.sqlite)")), QStringList{"journal.html"});
}

void TestMainWindow::groupSelection()
{
    Rig rig;
    clickRadio(rig.ui()->rb_3_group);
    QVERIFY(rig.ui()->rb_3_group->isChecked());
    QVERIFY(!rig.ui()->rb_no_group->isChecked());
    QVERIFY(rig.battery(8)->widget()->isHighlighted());
    QVERIFY(!rig.battery(0)->widget()->isHighlighted());
    QVERIFY(!rig.battery(100)->widget()->isHighlighted());
    clickRadio(rig.ui()->rb_no_group);
    for (int id : {0, 8, 16, 100})
        QVERIFY(rig.battery(id)->widget()->isHighlighted());
}

void TestMainWindow::hideUngrouped()
{
    Rig rig;
    MKPWidget* ungrouped = rig.battery(100)->widget();
    rig.ui()->mkp_scroll->ensureWidgetVisible(ungrouped);
    clickRadio(rig.ui()->chb_selection);
    QVERIFY(rig.ui()->chb_selection->isChecked());
    QCOMPARE(ungrouped->currentPicture(), MKPWidget::Picture::None);
    QCOMPARE(rig.battery(3)->widget()->currentPicture(), MKPWidget::Picture::Grey);
    clickRadio(rig.ui()->chb_selection);
    QCOMPARE(ungrouped->currentPicture(), MKPWidget::Picture::Grey);
}

void TestMainWindow::pages()
{
    Rig rig;
    const QStringList buttons{"rb_journal", "rb_values", "rb_settings", "rb_divergences"};
    const QList<int> pages{2, 0, 3, 1};
    for (int i = 0; i < 4; ++i) {
        clickRadio(rig->findChild<QRadioButton*>(buttons[i]));
        QVERIFY2(rig.ui()->stacked_widget->currentIndex() == pages[i], qPrintable(buttons[i]));
    }
    QCOMPARE(rig.ui()->stacked_widget->currentWidget(), rig.ui()->deriv_container_scroll);
    clickRadio(rig.ui()->rb_values);
    QCOMPARE(rig.ui()->stacked_widget->currentWidget(), rig.ui()->mkp_scroll);
}

void TestMainWindow::scrollToGroup4()
{
    Rig rig;
    rig->resize(1166, 557);
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QScrollBar* bar = rig.ui()->deriv_container_scroll->verticalScrollBar();
    const auto& containers = rig->deviationContainers();
    // Group 4 chosen on the values page, then the page's first visit: group 4's container on top.
    clickRadio(rig.ui()->rb_4_group);
    clickRadio(rig.ui()->rb_divergences);
    QTRY_VERIFY2(bar->value() > 0 && qAbs(containers[3]->y() - bar->value()) <= 12,
                 qPrintable(QString("%1 / %2").arg(bar->value()).arg(containers[3]->y())));
    // On the page itself, group 1 goes back to the top.
    clickRadio(rig.ui()->rb_1_group);
    QCOMPARE(bar->value(), 0);
    clickRadio(rig.ui()->rb_4_group);
    QVERIFY(bar->value() > 0);
}

void TestMainWindow::modeSwitchRelabelsRows()
{
    Rig rig;
    // Every tile's address label follows the mode at once, painted yet or not.
    auto addressLabelsShown = [&] {
        int shown = 0;
        for (int id = 0; id < 128; ++id)
            shown += rig.battery(id)->widget()->addressLabel()->isVisible();
        return shown;
    };
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QCoreApplication::processEvents();
    QCOMPARE(addressLabelsShown(), 0);
    QLabel* corner = rig->findChild<QLabel*>("cornerLabel");
    QCOMPARE(corner->text(), QString("МКП"));
    QVERIFY(rig.labels().contains("МСД №0"));
    rig.ui()->action_Modbus->trigger();
    QVERIFY(modbusMode);
    QCOMPARE(addressLabelsShown(), 128);
    QCOMPARE(rig.ui()->menuModbus_mode->title(), QString("Текущий режим: Modbus"));
    QVERIFY(rig.labels().contains("№ 120"));
    QVERIFY(!rig.labels().contains("МСД №15"));
    QCOMPARE(corner->text(), QString("МКП"));
    QVERIFY(rig->exchangeStatus()->isVisible());
    QCoreApplication::processEvents();
    rig.ui()->action_Modbus->trigger();
    QVERIFY(!modbusMode);
    QVERIFY(!rig.ui()->action_Modbus->isChecked());
    QCOMPARE(addressLabelsShown(), 0);
    QVERIFY(rig.labels().contains("МСД №15"));
    QVERIFY(!rig->exchangeStatus()->isVisible());
    QVERIFY(!rig->retryStatus()->isVisible());
}

void TestMainWindow::fitsItsOwnSize()
{
    SimulatedLine line;
    QVERIFY(line.start({"--noise", "0"}));
    Rig rig(line.link());
    QCOMPARE(rig->minimumSize(), QSize(750, 450));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(rig->size(),
             QSize(qMin(1166, qMax(750, available.width())), qMin(557, qMax(450, available.height()))));
    rig->resize(1166, 557);
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QScrollArea* outer = rig.ui()->scrollArea;
    QWidget* view = outer->viewport();
    auto inside = [&](QWidget* w) {
        return view->rect().contains(QRect(w->mapTo(view, QPoint(0, 0)), w->size()));
    };
    auto pageX = [&] { return rig.ui()->stacked_widget->mapTo(rig.window.get(), QPoint(0, 0)).x(); };
    auto fits = [&] {
        QCoreApplication::processEvents();
        return outer->verticalScrollBar()->maximum() == 0 && outer->horizontalScrollBar()->maximum() == 0 &&
               inside(rig.ui()->label_help);
    };
    // Every page fits with only its own scroll bar; the journal's buttons stand inside.
    for (int page = 3; page >= 0; --page) {
        rig.ui()->stacked_widget->setCurrentIndex(page);
        QVERIFY2(fits(), qPrintable(QString("page %1").arg(page)));
        for (const char* name : {"pb_clear", "pb_save"})
            QVERIFY2(page != 2 || inside(rig.ui()->stacked_widget->widget(2)->findChild<QWidget*>(name)),
                     name);
    }
    // Старт, measured values in the group captions, Стоп: the pages never move.
    const int x = pageX();
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig->isNativeRunning());
    QTRY_VERIFY_WITH_TIMEOUT(rig.ui()->rb_1_group->text().contains("Ucp=13,50 B"), 15000);
    QVERIFY(fits());
    QCOMPARE(pageX(), x);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig->isNativeRunning());
    QVERIFY(fits());
    QCOMPARE(pageX(), x);
}

void TestMainWindow::failedStartUnlocks_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::newRow("no port") << ""
                             << "Не выбран ком порт";
    QTest::newRow("port does not open") << "/nonexistent/ttyX"
                                        << "Не удалось открыть ком порт(/nonexistent/ttyX, 2)";
    QTest::newRow("no rights on the port")
        << "pty"
        << "Не удалось открыть ком порт(%1, 13)\nНет доступа к порту: добавьте "
           "пользователя в группу dialout и войдите в систему заново.";
}

void TestMainWindow::failedStartUnlocks()
{
    QFETCH(QString, port);
    QFETCH(QString, message);
    PtyLine line;
    Rig rig(unopenablePort(port, line, &message));
    {
        AccessAsNobody nobody;
        QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    }
    QCOMPARE(rig.messages.size(), 1);
    QCOMPARE(rig.messages[0].section('|', 1), "Ошибка!|" + message);
    QVERIFY(!rig->isNativeRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(rig.ui()->cmb_com->isEnabled());
    QVERIFY(rig.ui()->menuModbus_mode->menuAction()->isEnabled());
    for (int g = 1; g <= 6; ++g) // still idle
        QCOMPARE(rig->findChild<QRadioButton*>(QString("rb_%1_group").arg(g))->text(),
                 QString("Группа %1 (Ucp=0,00 B, Tcp=0,0 °C)").arg(g));
}

void TestMainWindow::stopAfterLineLost()
{
    PtyLine line;
    QVERIFY(line.isReady());
    Rig rig(line.path());
    rig->nativeWorker().setPollingPeriod(100);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig->isNativeRunning());
    // The worker meets the failing line and closes the port by force.
    line.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!rig->comPortList()[0]->isOpen(), 10000);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QCOMPARE(rig.messages, QStringList());
    QVERIFY(!rig->isNativeRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
}

void TestMainWindow::startWhileLastSweepRuns()
{
    // The first sweep is held at its end until released (or for 10 s at most), so it
    // outlasts the stop's wait.
    QSemaphore release;
    QAtomicInt held = 0;
    PtyLine line;
    QVERIFY(line.isReady());
    Rig rig(line.path());
    WorkerObject& worker = rig->nativeWorker();
    worker.setPollingPeriod(100);
    connect(
        &worker, &WorkerObject::dataArrived, &worker,
        [&](const DevicesGuiData&) {
            if (held.testAndSetOrdered(0, 1))
                release.tryAcquire(1, 10000);
        },
        Qt::DirectConnection);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig->isNativeRunning());
    QTRY_VERIFY_WITH_TIMEOUT(held.loadAcquire() == 1, 10000);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig->isNativeRunning());
    QVERIFY(worker.pollingThread()->isRunning());

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    // Bounded by the 2000 ms wait, not by the sweep.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.messages.size(), 1);
    QVERIFY(rig.messages[0].endsWith(
        "Предыдущий опрос ещё не завершён. Повторите запуск через несколько секунд."));
    QVERIFY(!rig->isNativeRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(rig.ui()->cmb_com->isEnabled());

    // Once that sweep has ended, the start goes through.
    release.release();
    QTRY_VERIFY_WITH_TIMEOUT(!worker.pollingThread()->isRunning(), 10000);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig->isNativeRunning());
    QCOMPARE(rig.messages.size(), 1);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig->isNativeRunning());
}

void TestMainWindow::exitQuestion_data()
{
    QTest::addColumn<bool>("leave");
    QTest::newRow("Выйти") << true;
    QTest::newRow("Отмена") << false;
}

void TestMainWindow::exitQuestion()
{
    QFETCH(bool, leave);
    Rig rig;
    QStringList asked;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        asked << box->windowTitle() << box->text() << box->button(QMessageBox::Yes)->text()
              << box->button(QMessageBox::No)->text();
        box->button(leave ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    QCOMPARE(rig->close(), leave);
    QCOMPARE(asked.join('|'), QString("Выход|Вы уверены, что хотите выйти?|Выйти|Отмена"));
    QCOMPARE(rig->isVisible(), !leave);
}

void TestMainWindow::manualMissingBesideTheProgram()
{
    // The test program's folder holds no manual: the menu says which file it looked for.
    Rig rig;
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + "/ORVIK-Monitor_manual.pdf");
    QVERIFY(!QFile::exists(path));
    rig.ui()->action_pdf->trigger();
    QCOMPARE(rig.messages.size(), 1);
    QCOMPARE(rig.messages[0].section('|', 0, 0).toInt(), int(QMessageBox::Warning));
    QCOMPARE(rig.messages[0].section('|', 2), "Невозможно открыть файл `" + path + "`. Файл не существует!");
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
