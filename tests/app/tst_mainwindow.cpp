// The main window's start and stop of the native exchange, and its exit question.
#include "../common/PtyLine.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindowForm.h"
#include "app/QtTranslation.h"
#include "app/StatusNotices.h"
#include "config/GroupsSettingsWindow.h"
#include "link/WorkerObject.h"
#include <QComboBox>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSemaphore>
#include <QTcpServer>
#include <QtTest>

namespace {
// The window shown in a scratch folder; message boxes are recorded instead of shown.
struct Rig : WindowInFolder
{
    QStringList messages;
    explicit Rig(const QString& port) : WindowInFolder(QByteArray(), {}, port)
    {
        MainWindow::showMessage = [this](QMessageBox::Icon, QWidget*, const QString& title,
                                         const QString& text) { messages << title + "|" + text; };
        window->show();
    }
    void click() { QTest::mouseClick(window->form()->pb_stop_start, Qt::LeftButton); }
    // "Старт" or "Стоп", then whether the port selector and the mode menu are locked.
    QString controls() const
    {
        return window->form()->pb_stop_start->text() +
               QString(" %1%2")
                   .arg(!window->form()->cmb_com->isEnabled())
                   .arg(!window->form()->menuModbus_mode->menuAction()->isEnabled());
    }
};
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void startStop_data()
    {
        QTest::addColumn<QString>("port"); // "pty": a line only root may open; "lost": one that vanishes
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("leave"); // the answer to the exit question
        const auto row = [](const char* name, const char* port, const QString& message, bool leave) {
            QTest::newRow(name) << QString(port) << message << leave;
        };
        row("no port", "", "Ошибка!|Не выбран ком порт", false);
        row("port does not open", "/nonexistent/ttyX",
            "Ошибка!|Не удалось открыть ком порт(/nonexistent/ttyX, 2)", true);
        row("no rights on the port", "pty",
            "Ошибка!|Не удалось открыть ком порт(%1, 13)\nНет доступа к порту: "
            "добавьте пользователя в группу dialout и войдите в систему заново.",
            false);
        row("line lost while running", "lost", "", true);
    }
    void startStop()
    {
        QFETCH(QString, port);
        QFETCH(QString, message);
        QFETCH(bool, leave);
        PtyLine line;
        Rig rig(port == "lost" ? line.path() : unopenablePort(port, line, &message));
        if (port != "lost") {
            AccessAsNobody nobody;
            rig.click();
        } else {
            rig.click();
            QCOMPARE(rig.controls(), QString("Стоп 11"));
            line.hangUp(); // the worker meets the failing line and closes the port by force
            QTRY_VERIFY_WITH_TIMEOUT(!rig->comPortList()[0]->isOpen(), 10000);
            rig.click();
        }
        QCOMPARE(rig.messages.join(';'), message);
        QVERIFY(!rig->isNativeRunning());
        QCOMPARE(rig.controls(), QString("Старт 00"));
        // The journal starts its file and the history its database; no settings are written.
        QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files).filter(QRegularExpression("^(?!history)")),
                 QStringList{"journal.html"});
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
    void startWhileLastSweepRuns()
    {
        // The first sweep is held at its end until released (10 s at most): it outlasts the stop's wait.
        QSemaphore release;
        QAtomicInt held = 0;
        PtyLine line;
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
        rig.click();
        QTRY_VERIFY_WITH_TIMEOUT(held.loadAcquire() == 1, 10000);
        rig.click();
        QVERIFY(!rig->isNativeRunning() && worker.pollingThread()->isRunning());
        QElapsedTimer clock;
        clock.start();
        rig.click();
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed()))); // 2 s, not the sweep
        QCOMPARE(rig.messages,
                 QStringList{
                     "Ошибка!|Предыдущий опрос ещё не завершён. Повторите запуск через несколько секунд."});
        QCOMPARE(rig.controls(), QString("Старт 00"));
        release.release();
    }
    void qtDialogsInRussian()
    {
        QVERIFY2(installQtTranslation(*qApp), "qtbase_ru.qm (Debian's qttranslations5-l10n) is missing");
        QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text() + '|' +
                     box.button(QDialogButtonBox::Open)->text(),
                 QString("Отмена|Открыть"));
    }
    void publishingFollowsSettings() // on, off, on again elsewhere: the status bar says which
    {
        QTcpServer closed; // a port nobody listens on
        closed.listen(QHostAddress::LocalHost);
        const QString port = QString::number(closed.serverPort());
        closed.close();
        WindowInFolder folder(settingsWith("<mqtt_enabled>true</mqtt_enabled><mqtt_host>127.0.0.1</mqtt_host>"
                                           "<mqtt_port>" +
                                           port.toUtf8() + "</mqtt_port>"));
        MainWindow* window = folder.window.get();
        QLabel* status = window->statusNotices()->label(StatusNotices::Mqtt);
        QTRY_COMPARE(status->text(), QString("MQTT: нет связи с брокером, событий в очереди: 0"));
        Settings::Mqtt mqtt = window->settingsRecord().mqtt();
        for (const bool on : {false, true}) {
            mqtt.enabled = on, mqtt.port += 1;
            window->settingsRecord().setMqtt(mqtt);
            emit window->settingsPage()->publishingChanged();
            QTRY_COMPARE(status->isVisibleTo(window), on);
        }
        QVERIFY(QFile::exists(folder.dir.filePath("mqtt-outbox.sqlite")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
