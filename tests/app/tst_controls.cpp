// The operator's controls through the real widgets: group selection, hiding ungrouped
// tiles, the deviation page scroll, the mode switch, a failed start, the native stop after a
// lost line or with a sweep still running, the exit question, and the window at its own size.
#include "../common/PtyLine.h"
#include "../common/SimulatedLine.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/ProgramMode.h"
#include "config/GroupsSettingsWindow.h"
#include "core/Battery.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/MKPWidget.h"
#include "widgets/ResizableScrollArea.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
struct Message
{
    QMessageBox::Icon icon;
    QString title, text;
};

// The window in a scratch folder; batteries 0..7 in group 1, 8..15 in group 3,
// 16..23 in group 4; message boxes are recorded instead of shown.
struct Rig
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<MainWindow> window;
    QList<Message> messages;

    explicit Rig(const QStringList& extraPorts = {})
    {
        QFile f(dir.filePath("settings.xml"));
        f.open(QIODevice::WriteOnly);
        QByteArray xml = "<!DOCTYPE settings>\n<settings>\n";
        for (int i = 0; i < 24; ++i)
            xml += QString(" <group_id msd=\"%1\" mkp=\"%2\">%3</group_id>\n")
                       .arg(i / 8)
                       .arg(i % 8)
                       .arg(i < 8    ? 1
                            : i < 16 ? 3
                                     : 4)
                       .toUtf8();
        f.write(xml + "</settings>\n");
        f.close();
        MainWindow::extraComPorts = extraPorts;
        MainWindow::serialPortTableRoot = dir.filePath("no-sysfs");
        MainWindow::showMessage = [this](QMessageBox::Icon icon, QWidget*, const QString& title,
                                         const QString& text) {
            messages.append({icon, title, text});
        };
        QDir::setCurrent(dir.path());
        window = std::make_unique<MainWindow>();
        MainWindow::instance = window.get();
        window->show();
    }
    ~Rig()
    {
        MainWindow::instance = nullptr;
        window.reset();
        MainWindow::extraComPorts.clear();
        QDir::setCurrent(previous);
        modbusMode = false;
    }
    MainWindowForm* ui() const { return window->form(); }
    Battery* battery(int id) const { return window->rows()[id / 8][id % 8]; }
};

void clickRadio(QAbstractButton* radio)
{
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(8, radio->height() / 2));
}
} // namespace

class TestControls : public QObject
{
    Q_OBJECT
private slots:
    void groupSelection();
    void hideUngrouped();
    void pages_data();
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
    void modbusStartStopThroughTheButton();
    void manualMissingBesideTheProgram();
};

void TestControls::groupSelection()
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

void TestControls::hideUngrouped()
{
    Rig rig;
    MKPWidget* ungrouped = rig.battery(100)->widget();
    MKPWidget* grouped = rig.battery(3)->widget();
    rig.ui()->mkp_scroll->ensureWidgetVisible(ungrouped);
    QTest::mouseClick(rig.ui()->chb_selection, Qt::LeftButton, {},
                      QPoint(8, rig.ui()->chb_selection->height() / 2));
    QVERIFY(rig.ui()->chb_selection->isChecked());
    QCOMPARE(ungrouped->currentPicture(), MKPWidget::Picture::None);
    QCOMPARE(grouped->currentPicture(), MKPWidget::Picture::Grey);
    QTest::mouseClick(rig.ui()->chb_selection, Qt::LeftButton, {},
                      QPoint(8, rig.ui()->chb_selection->height() / 2));
    QCOMPARE(ungrouped->currentPicture(), MKPWidget::Picture::Grey);
}

void TestControls::pages_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::newRow("values") << "rb_values" << 0;
    QTest::newRow("deviations") << "rb_divergences" << 1;
    QTest::newRow("journal") << "rb_journal" << 2;
    QTest::newRow("settings") << "rb_settings" << 3;
}

void TestControls::pages()
{
    QFETCH(QString, button);
    QFETCH(int, page);
    Rig rig;
    if (page == 0)
        clickRadio(rig.ui()->rb_journal);
    clickRadio(rig.window->findChild<QRadioButton*>(button));
    QCOMPARE(rig.ui()->stacked_widget->currentIndex(), page);
    const QList<QWidget*> pages = {rig.ui()->mkp_scroll, rig.ui()->deriv_container_scroll};
    if (page < 2)
        QCOMPARE(rig.ui()->stacked_widget->currentWidget(), pages[page]);
}

void TestControls::scrollToGroup4()
{
    Rig rig;
    rig.window->resize(1166, 557);
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QScrollBar* bar = rig.ui()->deriv_container_scroll->verticalScrollBar();
    const auto& containers = rig.window->deviationContainers();
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

void TestControls::modeSwitchRelabelsRows()
{
    Rig rig;
    auto labels = [&] {
        QStringList all;
        for (QLabel* l : rig.ui()->mkp_scroll->findChildren<QLabel*>())
            all << l->text();
        return all;
    };
    // Every tile's address label follows the mode at once, painted yet or not.
    auto addressLabelsShown = [&] {
        int shown = 0;
        for (const QList<Battery*>& row : rig.window->rows())
            for (Battery* b : row)
                shown += b->widget()->addressLabel()->isVisible();
        return shown;
    };
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QCoreApplication::processEvents();
    QCOMPARE(addressLabelsShown(), 0);
    QLabel* corner = rig.window->findChild<QLabel*>("cornerLabel");
    QCOMPARE(corner->text(), QString("МКП"));
    rig.ui()->action_Modbus->trigger();
    QVERIFY(modbusMode);
    QCOMPARE(addressLabelsShown(), 128);
    QCOMPARE(rig.ui()->menuModbus_mode->title(), QString("Текущий режим: Modbus"));
    QVERIFY(labels().contains("№ 120"));
    QVERIFY(!labels().contains("МСД №15"));
    QCOMPARE(corner->text(), QString("МКП"));
    QVERIFY(rig.window->exchangeStatus()->isVisible());
    QCoreApplication::processEvents();
    rig.ui()->action_Modbus->trigger();
    QVERIFY(!modbusMode);
    QCOMPARE(addressLabelsShown(), 0);
    QVERIFY(labels().contains("МСД №15"));
    QVERIFY(!rig.window->exchangeStatus()->isVisible());
}

void TestControls::fitsItsOwnSize()
{
    SimulatedLine line;
    QVERIFY(line.start({"--noise", "0"}));
    Rig rig({line.link()});
    rig.window->resize(1166, 557);
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
    }
    QWidget* journalPage = rig.ui()->stacked_widget->widget(2);
    rig.ui()->stacked_widget->setCurrentIndex(2);
    QCoreApplication::processEvents();
    for (const char* name : {"pb_clear", "pb_save"})
        QVERIFY2(inside(journalPage->findChild<QWidget*>(name)), name);
    rig.ui()->stacked_widget->setCurrentIndex(0);
    QVERIFY(fits());

    // Старт, measured values in the group captions, Стоп: the pages never move.
    const int x = pageX();
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig.window->isNativeRunning());
    QTRY_VERIFY_WITH_TIMEOUT(rig.ui()->rb_1_group->text().contains("Ucp=13,50 B"), 15000);
    QVERIFY(fits());
    QCOMPARE(pageX(), x);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig.window->isNativeRunning());
    QVERIFY(fits());
    QCOMPARE(pageX(), x);
}

void TestControls::failedStartUnlocks_data()
{
    QTest::addColumn<QString>("port"); // "pty": a line only root may open
    QTest::addColumn<QString>("message");
    QTest::newRow("no port") << QString() << "Не выбран ком порт";
    QTest::newRow("port does not open") << "/nonexistent/ttyX"
                                        << "Не удалось открыть ком порт(/nonexistent/ttyX, 2)";
    QTest::newRow("no rights on the port")
        << "pty"
        << "Не удалось открыть ком порт(%1, 13)\nНет доступа к порту: добавьте пользователя в группу dialout "
           "и войдите в систему заново.";
}

void TestControls::failedStartUnlocks()
{
    QFETCH(QString, port);
    QFETCH(QString, message);
    PtyLine line;
    if (port == "pty") {
        QVERIFY(line.isReady() && line.denyAccess());
        port = line.path();
        message = message.arg(port);
    }
    Rig rig(port.isEmpty() ? QStringList{} : QStringList{port});
    {
        AccessAsNobody nobody;
        QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    }
    QCOMPARE(rig.messages.size(), 1);
    QCOMPARE(rig.messages[0].title, QString("Ошибка!"));
    QCOMPARE(rig.messages[0].text, message);
    QVERIFY(!rig.window->isNativeRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(rig.ui()->cmb_com->isEnabled());
    QVERIFY(rig.ui()->menuModbus_mode->menuAction()->isEnabled());
    QCOMPARE(rig.ui()->rb_1_group->text(), QString("Группа 1 (Ucp=0,00 B, Tcp=0,0 °C)")); // still idle
}

void TestControls::stopAfterLineLost()
{
    PtyLine line;
    QVERIFY(line.isReady());
    Rig rig({line.path()});
    rig.window->nativeWorker().setPollingPeriod(100);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig.window->isNativeRunning());
    // The worker meets the failing line and closes the port by force.
    line.hangUp();
    ComPort* port = rig.window->comPortList()[0].get();
    QTRY_VERIFY_WITH_TIMEOUT(!port->isOpen(), 10000);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QCOMPARE(rig.messages.size(), 0);
    QVERIFY(!rig.window->isNativeRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
}

void TestControls::startWhileLastSweepRuns()
{
    // The first sweep is held at its end until released (or for 10 s at most), so it
    // outlasts the stop's wait.
    QSemaphore release;
    QAtomicInt held = 0;
    PtyLine line;
    QVERIFY(line.isReady());
    Rig rig({line.path()});
    WorkerObject& worker = rig.window->nativeWorker();
    worker.setPollingPeriod(100);
    connect(
        &worker, &WorkerObject::dataArrived, &worker,
        [&](const DevicesGuiData&) {
            if (held.testAndSetOrdered(0, 1))
                release.tryAcquire(1, 10000);
        },
        Qt::DirectConnection);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig.window->isNativeRunning());
    QTRY_VERIFY_WITH_TIMEOUT(held.loadAcquire() == 1, 10000);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig.window->isNativeRunning());
    QVERIFY(worker.pollingThread()->isRunning());

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    const qint64 blocked = clock.elapsed();
    // Bounded by the 2000 ms wait, not by the sweep.
    QVERIFY2(blocked < 5000, qPrintable(QString::number(blocked)));
    QCOMPARE(rig.messages.size(), 1);
    QCOMPARE(rig.messages[0].text,
             QString("Предыдущий опрос ещё не завершён. Повторите запуск через несколько секунд."));
    QVERIFY(!rig.window->isNativeRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(rig.ui()->cmb_com->isEnabled());

    // Once that sweep has ended, the start goes through.
    release.release();
    QTRY_VERIFY_WITH_TIMEOUT(!worker.pollingThread()->isRunning(), 10000);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig.window->isNativeRunning());
    QCOMPARE(rig.messages.size(), 1);
    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig.window->isNativeRunning());
}

void TestControls::exitQuestion_data()
{
    QTest::addColumn<bool>("leave");
    QTest::newRow("Выйти") << true;
    QTest::newRow("Отмена") << false;
}

void TestControls::exitQuestion()
{
    QFETCH(bool, leave);
    Rig rig;
    QString title, text, yes, no;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        yes = box->button(QMessageBox::Yes)->text();
        no = box->button(QMessageBox::No)->text();
        box->button(leave ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    const bool closed = rig.window->close();
    QCOMPARE(title, QString("Выход"));
    QCOMPARE(text, QString("Вы уверены, что хотите выйти?"));
    QCOMPARE(yes, QString("Выйти"));
    QCOMPARE(no, QString("Отмена"));
    QCOMPARE(closed, leave);
    QCOMPARE(rig.window->isVisible(), !leave);
}

void TestControls::modbusStartStopThroughTheButton()
{
    QTemporaryDir simDir;
    const QString link = simDir.filePath("sim.tty");
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start("/usr/bin/python3", {ORVIK_SOURCE_DIR "/tools/orvik-sim", "--modbus", "--addresses", "1",
                                   "--link", link, "--set", "1:0:1234:215"});
    QVERIFY(sim.waitForStarted());
    QVERIFY(sim.waitForReadyRead(15000));
    auto stopSim = qScopeGuard([&] {
        sim.kill();
        sim.waitForFinished();
    });

    Rig rig({link});
    QCOMPARE(rig.ui()->cmb_com->currentText(), link);
    rig.ui()->action_Modbus->trigger();
    QVERIFY(modbusMode);
    GroupsSettingsWindow::setGroupModbusAddress(1, 1);
    rig.window->settingsPage()->updateModbusAddressList();

    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(rig.window->isModbusRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Стоп"));
    QVERIFY(!rig.ui()->cmb_com->isEnabled());
    QVERIFY(!rig.ui()->menuModbus_mode->menuAction()->isEnabled());
    Battery* first = rig.battery(0);
    QTRY_COMPARE_WITH_TIMEOUT(first->widget()->voltageLabel()->text(), QString("12,34 B"), 15000);
    QCOMPARE(first->widget()->temperatureLabel()->text(), QString("21,5 °C"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.window->exchangeStatus()->text(), QString("обмен по modbus: ок"), 15000);

    QTest::mouseClick(rig.ui()->pb_stop_start, Qt::LeftButton);
    QVERIFY(!rig.window->isModbusRunning());
    QCOMPARE(rig.ui()->pb_stop_start->text(), QString("Старт"));
    QVERIFY(rig.ui()->cmb_com->isEnabled());
    // The Modbus stop zeroes the states and keeps the readings.
    QCOMPARE(first->state(), 0);
    QCOMPARE(first->voltage(), 12.34);
    QCOMPARE(first->widget()->voltageLabel()->text(), QString("--,-- B"));
}

void TestControls::manualMissingBesideTheProgram()
{
    // The test program's folder holds no manual: the menu says which file it looked for.
    Rig rig;
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + "/ORVIK-Monitor_manual.pdf");
    QVERIFY(!QFile::exists(path));
    rig.ui()->action_pdf->trigger();
    QCOMPARE(rig.messages.size(), 1);
    QCOMPARE(rig.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(rig.messages[0].text, "Невозможно открыть файл `" + path + "`. Файл не существует!");
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
