#include "app/MainWindow.h"
#include "widgets/ButtonCaption.h"

#include "app/MailLink.h"
#include "app/MainWindowForm.h"
#include "app/ModbusTcpLink.h"
#include "app/MqttLink.h"
#include "app/RoomFeed.h"
#include "app/StatusNotices.h"
#include "config/GroupsSettingsWindow.h"
#include "config/ProgramMode.h"
#include "core/AudioSignals.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "core/StateCode.h"
#include "journal/Journal.h"
#include "journal/JournalWidget.h"
#include "link/SerialPortList.h"
#include "widgets/GroupContainerWidget.h"
#include "widgets/MKPWidget.h"
#include "widgets/ResizableScrollArea.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

MainWindow* MainWindow::instance = nullptr;
QStringList MainWindow::extraComPorts;
QString MainWindow::serialPortTableRoot = QStringLiteral("/sys/class/tty");
QString MainWindow::serialByIdRoot = QStringLiteral("/dev/serial/by-id");
QLabel* MainWindow::rowLabels[16] = {};
QLabel* MainWindow::columnLabels[8] = {};

namespace {
const QString kSettingsFile = QStringLiteral("settings.xml");
} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new MainWindowForm)
{
    // The logo and the tile pictures live in the program's static library.
    Q_INIT_RESOURCE(resources);
    // Step order matters: later steps use what earlier ones built.
    serialPort = new QSerialPort(this);
    connect(serialPort, SIGNAL(errorOccurred(QSerialPort::SerialPortError)), this,
            SLOT(handleError(QSerialPort::SerialPortError)));
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(readModbusAnswer()));
    ui->setupUi(this);

    currentComPort = nullptr;
    nativeRunning = false;
    qRegisterMetaType<DevicesGuiData>("DevicesGuiData");
    connect(&worker, SIGNAL(dataArrived(DevicesGuiData)), this, SLOT(dataArrivedHandler(DevicesGuiData)),
            Qt::QueuedConnection);
    buildComPortList();

    setMinimumSize(750, 450);
    fitToScreen();

    for (int number = 0; number <= 8; ++number)
        groups.append(new BatteryGroup(number));

    settings.setThresholds(&thresholds);
    settings.reset();
    if (settings.load(kSettingsFile)) {
        const int index =
            ui->cmb_com->findText(settings.comPort(), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            ui->cmb_com->setCurrentIndex(index);
    }
    // The record saves the port the selector shows.
    settings.setComPort(ui->cmb_com->currentText());
    connect(ui->cmb_com, &QComboBox::currentTextChanged, this,
            [this](const QString& port) { settings.setComPort(port); });
    modbusMode = settings.isModbusMode();

    MKPWidget::loadImages();
    buildTileGrid();

    const QList<QRadioButton*> groupRadios = {ui->rb_1_group, ui->rb_2_group, ui->rb_3_group,
                                              ui->rb_4_group, ui->rb_5_group, ui->rb_6_group};
    for (int k = 1; k <= 6; ++k) {
        groupCaptions.push_back(std::make_unique<ButtonCaption>(groupRadios[k - 1]));
        groups[k]->setButton(groupCaptions.back().get());
    }

    buildDeviationPage();
    // The journal reads journal.html back and runs on its own thread; the page starts with
    // what it read. Events are taken from the battery on this thread when the signal is
    // emitted (direct connection) and written on the journal's thread.
    journal = new Journal(&settings);
    journalWidget = new JournalWidget(journal);
    qRegisterMetaType<Event>("Event");
    connect(journal, SIGNAL(updateJournalWidget(Event)), journalWidget, SLOT(updateJournalWidget(Event)),
            Qt::QueuedConnection);

    // Readings and journal events leave the window through the room's feed: every reading
    // goes to history.sqlite, written on the recorder's own thread, and with the events to
    // the publishers on theirs; the monitor never waits for any of them.
    roomFeed = new RoomFeed(QDir::current().absoluteFilePath(QStringLiteral("history.sqlite")), this);
    RoomFeed::Room room;
    room.rows = &batteryRows;
    room.groups = &groups;
    room.commLoss = &commLoss;
    room.polling = [this] { return nativeRunning || modbusRunning; };
    room.modbusMode = [] { return modbusMode; };
    roomFeed->setRoom(room);
    connect(
        this, &MainWindow::addJournalEvent, roomFeed,
        [this](Battery* battery, bool started, bool confirmed, bool saveIntoFile) {
            roomFeed->takeEvent(Event(battery, started, confirmed), saveIntoFile);
        },
        Qt::DirectConnection);
    connect(
        this, &MainWindow::addCommEvent, roomFeed, [this](const Event& event) { roomFeed->takeEvent(event); },
        Qt::DirectConnection);
    connect(
        roomFeed, &RoomFeed::eventTaken, journal,
        [this](const Event& event, bool saveIntoFile) { journal->enqueue(event, saveIntoFile); },
        Qt::DirectConnection);
    connect(ui->action_group_history, &QAction::triggered, this, &MainWindow::askGroupHistory);

    groupsSettingsWindow = new GroupsSettingsWindow();
    groupsSettingsWindow->setSettings(&settings);
    groupsSettingsWindow->setBatteryRows(&batteryRows);
    groupsSettingsWindow->setGroups(&groups);
    groupsSettingsWindow->fillFromModel();
    for (int k = 1; k <= 6; ++k) {
        GroupsSettingsWindow::setGroupModbusAddress(k, settings.modbusAddr(k));
        GroupsSettingsWindow::setGroupFirstSensor(k, settings.dat(k));
    }

    ui->stacked_widget->insertWidget(0, ui->mkp_scroll);
    ui->stacked_widget->insertWidget(1, ui->deriv_container_scroll);
    ui->stacked_widget->insertWidget(2, journalWidget);
    ui->stacked_widget->insertWidget(3, groupsSettingsWindow);
    ui->rb_values->setChecked(true);
    ui->stacked_widget->setCurrentIndex(0);
    connectControls();
    connect(groupsSettingsWindow, SIGNAL(groupsChanged()), this, SLOT(updateGroupSelection()));
    connect(groupsSettingsWindow, &GroupsSettingsWindow::modeChosen, this,
            [](bool modbus) { applyMode(modbus); });

    audioSignals = new AudioSignals();
    connect(this, SIGNAL(startWarningSound()), audioSignals, SLOT(startWarningSound()));
    connect(this, SIGNAL(startCrashSound()), audioSignals, SLOT(startCrashSound()));
    connect(this, SIGNAL(stopSounds()), audioSignals, SLOT(stopSounds()));
    ui->label_help->installEventFilter(this);

    showMode(modbusMode);
    groupsSettingsWindow->setModeButtons(modbusMode);
    groupsSettingsWindow->showModbusFields(modbusMode);
    groupsSettingsWindow->updateModbusAddressList();

    stageTimer = new QTimer(this);
    stageTimer->setInterval(200);
    stageTimer->setSingleShot(true);
    // The time-outs and the pause between devices set the pace of the whole cycle.
    stageTimer->setTimerType(Qt::PreciseTimer);
    connect(stageTimer, SIGNAL(timeout()), this, SLOT(stageSwitcher()));

    ui->menu_about->setText(QStringLiteral("Build " __DATE__ " " __TIME__));

    exchangeStatusLabel = new QLabel(this);
    exchangeStatusLabel->setObjectName(QStringLiteral("exchangeStatusLabel"));
    auto* middleLabel = new QLabel(this);
    retryStatusLabel = new QLabel(this);
    retryStatusLabel->setObjectName(QStringLiteral("retryStatusLabel"));
    ui->statusBar->addPermanentWidget(exchangeStatusLabel);
    ui->statusBar->addPermanentWidget(middleLabel);
    ui->statusBar->addPermanentWidget(retryStatusLabel);
    ui->statusBar->show();
    // Every other source of status text has a label and a colour of its own.
    notices = new StatusNotices(ui->statusBar);
    // A full disk must not pass unnoticed: the events wait in memory until it takes them.
    connect(journal, &Journal::fileWriteTrouble, this, [this](bool failing) {
        notices->show(StatusNotices::Journal,
                      failing ? tr("Журнал не записывается на диск, события ждут в памяти") : QString());
    });
    connect(roomFeed, &RoomFeed::notice, this,
            [this](const QString& text) { notices->show(StatusNotices::History, text); });
    notices->show(StatusNotices::Sound, audioSignals->trouble());
    connect(audioSignals, &AudioSignals::troubleChanged, this,
            [this](const QString& text) { notices->show(StatusNotices::Sound, text); });
    exchangeStatusLabel->setVisible(modbusMode);
    retryStatusLabel->setVisible(modbusMode);

    mqttLink = new MqttLink(roomFeed, QDir::currentPath(), this);
    connect(mqttLink, &MqttLink::statusChanged, this, [this](const QString& text) {
        notices->show(StatusNotices::Mqtt, text);
        notices->label(StatusNotices::Mqtt)
            ->setStyleSheet(text == QStringLiteral("MQTT: подключено")
                                ? QStringLiteral("color: green")
                                : QStringLiteral("color: rgb(160, 80, 0)"));
    });
    connect(groupsSettingsWindow, &GroupsSettingsWindow::publishingChanged, this,
            [this] { mqttLink->apply(settings); });
    mqttLink->apply(settings);

    modbusTcpLink = new ModbusTcpLink(roomFeed, this);
    connect(modbusTcpLink, &ModbusTcpLink::statusChanged, this, [this](const QString& text) {
        notices->show(StatusNotices::ModbusTcp, text);
        notices->label(StatusNotices::ModbusTcp)
            ->setStyleSheet(text.contains(QStringLiteral("клиентов"))
                                ? QStringLiteral("color: green")
                                : QStringLiteral("color: rgb(160, 80, 0)"));
    });
    connect(groupsSettingsWindow, &GroupsSettingsWindow::serverChanged, this,
            [this] { modbusTcpLink->apply(settings); });
    modbusTcpLink->apply(settings);

    mailLink = new MailLink(roomFeed, QDir::currentPath(), this);
    connect(mailLink, &MailLink::statusChanged, this, [this](const QString& text) {
        notices->show(StatusNotices::Mail, text);
        notices->label(StatusNotices::Mail)
            ->setStyleSheet(text.contains(QStringLiteral("не отправляется")) ||
                                    text.contains(QStringLiteral("отклонил"))
                                ? QStringLiteral("color: rgb(160, 80, 0)")
                                : QStringLiteral("color: green"));
    });
    connect(mailLink, &MailLink::testOutcome, groupsSettingsWindow,
            &GroupsSettingsWindow::showMailTestOutcome);
    connect(groupsSettingsWindow, &GroupsSettingsWindow::mailChanged, this,
            [this] { mailLink->apply(settings); });
    connect(groupsSettingsWindow, &GroupsSettingsWindow::mailTestRequested, mailLink, &MailLink::sendTest);
    mailLink->apply(settings);

    for (int k = 1; k <= 6; ++k) {
        BatteryGroup* group = groups[k];
        for (int i = 0; i < group->batteryCount(); ++i)
            if (BatteryView* tile = group->batteryAt(i)->widget())
                tile->setBatteryNumber(i);
    }
}

MainWindow::~MainWindow()
{
    if (instance == this)
        instance = nullptr;
    stopModbusExchange();
    // The publisher's clean exit, then the feed, before the batteries it reads are gone.
    delete mqttLink;
    mqttLink = nullptr;
    delete modbusTcpLink;
    modbusTcpLink = nullptr;
    delete mailLink;
    mailLink = nullptr;
    delete roomFeed;
    roomFeed = nullptr;
    // Stops the journal's thread once everything handed to it is on disk.
    delete journal;
    journal = nullptr;
    delete audioSignals;
    audioSignals = nullptr;
    delete ui;
    ui = nullptr;
    for (const QList<Battery*>& row : qAsConst(batteryRows))
        qDeleteAll(row);
    batteryRows.clear();
    qDeleteAll(groups);
    groups.clear();
    for (QLabel*& label : rowLabels)
        label = nullptr;
    for (QLabel*& label : columnLabels)
        label = nullptr;
}

MKPWidget* MainWindow::tileOf(const Battery* battery) const
{
    return battery ? dynamic_cast<MKPWidget*>(battery->widget()) : nullptr;
}

QString MainWindow::currentComPortText()
{
    return instance && instance->ui ? instance->ui->cmb_com->currentText() : QString();
}

void MainWindow::buildComPortList()
{
    // Each port is followed by its stable names, which a saved setting keeps across re-plugging.
    QStringList names, paths;
    const auto add = [&](const QString& name) {
        if (name.isEmpty() || paths.contains(ComPort::pathFor(name)))
            return;
        names.append(name);
        paths.append(ComPort::pathFor(name));
    };
    for (const QString& name : listSerialPorts(serialPortTableRoot, probeSerialType)) {
        add(name);
        for (const QString& link : stableSerialNames(name, serialByIdRoot))
            add(link);
    }
    for (const QString& extra : qAsConst(extraComPorts))
        add(extra);
    for (const QString& name : qAsConst(names)) {
        comPorts.push_back(std::make_unique<ComPort>(name, 19200));
        ui->cmb_com->addItem(name);
        ui->cmb_com->setItemData(ui->cmb_com->count() - 1, ComPort::pathFor(name), Qt::ToolTipRole);
    }
    // The list opens wide enough for the long stable names.
    ui->cmb_com->view()->setMinimumWidth(ui->cmb_com->view()->sizeHintForColumn(0) + 24);
}

void MainWindow::fitToScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    resize(qMin(width(), available.width()), qMin(height(), available.height()));
}

void MainWindow::buildTileGrid()
{
    auto* grid = new QWidget();
    grid->setObjectName(QStringLiteral("tileGrid"));
    // A palette, not a style sheet: a sheet here would style all 128 tiles and their labels
    // through the slow style-sheet path at every repaint.
    QPalette white = grid->palette();
    white.setColor(QPalette::Window, Qt::white);
    grid->setPalette(white);
    grid->setAutoFillBackground(true);
    auto* layout = new QGridLayout(grid);
    layout->setHorizontalSpacing(0);
    layout->setVerticalSpacing(0);

    cornerLabel = new QLabel(modbusMode ? QString() : tr("МКП"), grid);
    cornerLabel->setObjectName(QStringLiteral("cornerLabel"));
    cornerLabel->setAlignment(Qt::AlignRight);
    layout->addWidget(cornerLabel, 0, 0);
    for (int p = 0; p < 8; ++p) {
        auto* label = new QLabel(QString::number(p + 1), grid);
        label->setMinimumWidth(80);
        label->setAlignment(Qt::AlignBottom | Qt::AlignHCenter);
        layout->addWidget(label, 0, p + 1);
        columnLabels[p] = label;
    }

    int n = 0;
    for (int m = 0; m < 16; ++m) {
        auto* rowLabel = new QLabel(grid);
        rowLabel->setFixedSize(80, 65);
        layout->addWidget(rowLabel, m + 1, 0);
        rowLabels[m] = rowLabel;

        QList<Battery*> row;
        for (int p = 0; p < 8; ++p, ++n) {
            auto* battery = new Battery(n, m, p);
            auto* tile = new MKPWidget(grid);
            tile->setSettingsRecord(&settings);
            battery->setState(StateCode::None);
            battery->setWidget(tile);
            connect(tile, &MKPWidget::historyRequested, this,
                    [this, battery] { openBatteryHistory(battery); });
            battery->setThresholds(&thresholds);
            row.append(battery);
            const int group = settings.groupOf(m, p);
            groups[group >= 0 && group < groups.size() ? group : 0]->addBattery(battery);
            layout->addWidget(tile, m + 1, p + 1);
        }
        batteryRows.append(row);
    }
    relabelRows();

    layout->setColumnStretch(9, 1);
    layout->setRowStretch(17, 1);
    ui->mkp_scroll->setWidget(grid);
}

void MainWindow::buildDeviationPage()
{
    ResizableScrollArea* area = ui->deriv_container_scroll;
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    derivLayout = new QVBoxLayout();
    area->setContentLayout(derivLayout);
    for (int k = 1; k <= 6; ++k) {
        auto* container = new GroupContainerWidget();
        container->setGroup(groups[k]);
        container->setThresholds(&thresholds);
        container->setTitle(tr("Группа ") + QString::number(k));
        groupContainers.append(container);
        area->addGroupContainer(container, groups[k]->number());
    }
    area->addTrailingSpacer();
}

void MainWindow::setDeviationChartsRunning(bool running)
{
    for (GroupContainerWidget* container : qAsConst(groupContainers))
        container->setRunning(running);
}

void MainWindow::repaintDeviationCharts()
{
    for (GroupContainerWidget* container : qAsConst(groupContainers))
        container->repaintCharts();
}

void MainWindow::relabelRows()
{
    for (int m = 0; m < 16; ++m) {
        if (rowLabels[m])
            rowLabels[m]->setText(modbusMode ? QStringLiteral("№ %1").arg(8 * m)
                                             : QStringLiteral("МСД №%1").arg(m));
    }
}

void MainWindow::showMode(bool modbus)
{
    ui->menuModbus_mode->setTitle(modbus ? tr("Текущий режим: Modbus") : tr("Текущий режим: ОРВИК-x"));
    ui->action_Modbus->setChecked(modbus);
}

void applyMode(bool modbus)
{
    MainWindow* window = MainWindow::instance;
    if (!window)
        return;
    window->showMode(modbus);
    if (window->exchangeStatus())
        window->exchangeStatus()->setVisible(modbus);
    if (window->retryStatus())
        window->retryStatus()->setVisible(modbus);
    if (window->settingsPage())
        window->settingsPage()->showModbusFields(modbus);
    // Every tile at once, not only those that happen to repaint.
    for (const QList<Battery*>& row : window->rows())
        for (Battery* battery : row)
            if (BatteryView* tile = battery->widget())
                tile->followMode();
    window->relabelRows();
}
