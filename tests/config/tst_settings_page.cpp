// The settings page driven through its widgets: typed fields, clicked buttons, the
// information boxes it opens, the groups and settings.xml it writes, and the page inside
// the real main window across a restart.
#include "../common/FileSizeLimit.h"
#include "../common/WindowInFolder.h"
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/ProgramMode.h"
#include "config/AlarmThresholds.h"
#include "config/BatteryListWidgetItem.h"
#include "config/GroupsSettingsWindow.h"
#include "config/ModbusAddressList.h"
#include "config/Settings.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <csignal>
#include <functional>
#include <memory>

namespace {
struct ModeGuard
{
    bool saved = modbusMode;
    explicit ModeGuard(bool on) { modbusMode = on; }
    ~ModeGuard() { modbusMode = saved; }
};

// What one information box said, read while it was open.
struct Box
{
    QString title;
    QString text;
    int buttons = 0;
    QWidget* parent = nullptr;
};

// Clicks the button and answers every modal message box it opens with OK.
QList<Box> clickAnsweringBoxes(QAbstractButton* button)
{
    QList<Box> seen;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.append({box->windowTitle(), box->text(), box->buttons().size(), box->parentWidget()});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    timer.start();
    QTest::mouseClick(button, Qt::LeftButton);
    return seen;
}

void clickRadio(QRadioButton* radio)
{
    // On the indicator, which is always inside the button's hit area.
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(8, radio->height() / 2));
}

template <typename T> T* child(QWidget* parent, const QString& name)
{
    T* found = parent->findChild<T*>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

BatteryListWidgetItem* itemAt(QListWidget* list, int row)
{
    QListWidgetItem* item = list->item(row);
    return item && item->type() == BatteryListWidgetItem::itemType ? static_cast<BatteryListWidgetItem*>(item)
                                                                   : nullptr;
}

QList<int> idsIn(QListWidget* list)
{
    QList<int> ids;
    for (int i = 0; i < list->count(); ++i)
        ids.append(itemAt(list, i) ? itemAt(list, i)->batteryId() : -1);
    return ids;
}

QList<int> idsOf(const BatteryGroup* group)
{
    QList<int> ids;
    for (const Battery* battery : group->batteries())
        ids.append(battery->id());
    return ids;
}

// Selects the batteries with these ids by control-clicking them, as the operator would.
void selectByClicks(QListWidget* list, const QList<int>& ids)
{
    list->clearSelection();
    for (int i = 0; i < list->count(); ++i) {
        if (!ids.contains(itemAt(list, i)->batteryId()))
            continue;
        QListWidgetItem* item = list->item(i);
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualItemRect(item).center());
    }
}

void typeInto(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// The widgets of one page, looked up by their object names.
struct PageWidgets
{
    QWidget* page;
    QListWidget* list(int group) const
    {
        return child<QListWidget>(page, group == 0 ? QStringLiteral("listWidget_channels")
                                                   : QStringLiteral("listWidget_group%1").arg(group));
    }
    QPushButton* button(const QString& name) const { return child<QPushButton>(page, name); }
    QLineEdit* edit(const QString& name) const { return child<QLineEdit>(page, name); }
    QCheckBox* check(const QString& name) const { return child<QCheckBox>(page, name); }
    QRadioButton* radio(const QString& name) const { return child<QRadioButton>(page, name); }
    QSpinBox* spin(const QString& name) const { return child<QSpinBox>(page, name); }
    QPushButton* apply() const { return button(QStringLiteral("pushButton_apply")); }
    QPushButton* cancel() const { return button(QStringLiteral("pushButton_cancel")); }
    void moveIn(int group, const QList<int>& ids) const
    {
        selectByClicks(list(0), ids);
        QTest::mouseClick(button(QStringLiteral("pbInGroup%1").arg(group)), Qt::LeftButton);
    }
    void typeThresholds(const QStringList& values) const
    {
        const char* names[] = {"lineEdit_warnUpperThreshold", "lineEdit_crashUpperThreshold",
                               "lineEdit_warnLowerThreshold", "lineEdit_crashLowerThreshold",
                               "lineEdit_warnTempThreshold",  "lineEdit_crashTempThreshold",
                               "lineEdit_journalSize"};
        for (int i = 0; i < values.size(); ++i)
            typeInto(edit(QString::fromLatin1(names[i])), values[i]);
    }
};

// The page with the model the main window would give it, in a scratch working directory.
struct PageRig
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    AlarmThresholds thresholds;
    Settings settings;
    QList<BatteryGroup*> groups;
    QList<QList<Battery*>> rows;
    std::unique_ptr<GroupsSettingsWindow> page;
    PageWidgets ui{nullptr};

    explicit PageRig(const std::function<int(int id)>& groupOf = nullptr)
    {
        QDir::setCurrent(dir.path());
        settings.setThresholds(&thresholds);
        settings.reset();
        for (int number = 0; number <= 8; ++number)
            groups.append(new BatteryGroup(number));
        int id = 0;
        for (int m = 0; m < 16; ++m) {
            QList<Battery*> row;
            for (int p = 0; p < 8; ++p, ++id) {
                auto* battery = new Battery(id, m, p);
                const int group = groupOf ? groupOf(id) : 0;
                groups[group]->addBattery(battery);
                settings.setGroupOf(m, p, group);
                row.append(battery);
            }
            rows.append(row);
        }
        page = std::make_unique<GroupsSettingsWindow>();
        page->setSettings(&settings);
        page->setGroups(&groups);
        page->setBatteryRows(&rows);
        page->fillFromModel();
        page->resize(1000, 600);
        page->show();
        ui.page = page.get();
    }
    ~PageRig()
    {
        page.reset();
        for (const QList<Battery*>& row : qAsConst(rows))
            qDeleteAll(row);
        qDeleteAll(groups);
        QDir::setCurrent(previous);
    }
    QString settingsPath() const { return dir.filePath(QStringLiteral("settings.xml")); }
};

const QString kPositive = QStringLiteral("Значения должны быть положительными!");
const QString kOrder = QStringLiteral("Значение для предупреждения должно быть ниже значения для аварии!");
const QString kJournal = QStringLiteral("Размер журнала не может быть меньше 1Мб!");
const QString kSaveFailed = QStringLiteral("Не удалось сохранить настройки в файл settings.xml");
// The applied values in the order of the fields, and the same as read back from settings.xml.
QString appliedValues(const AlarmThresholds& t, const Settings& s)
{
    QStringList out;
    for (double v : {t.voltHighWarning, t.voltHighEmergency, t.voltLowWarning, t.voltLowEmergency,
                     t.tempWarning, t.tempEmergency, s.journalSize()})
        out << QString::number(v);
    return out.join(' ') + QString(" sounds %1%2").arg(int(s.warningAlarm())).arg(int(s.emergencyAlarm()));
}

} // namespace

class TestSettingsPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("LANG").startsWith(QLatin1String("ru_RU"))) {
            // Make sure the comma locale is really in force, in Qt and in the C run-time.
            QCOMPARE(QLocale().decimalPoint(), QLatin1Char(','));
            QCOMPARE(QByteArray(std::localeconv()->decimal_point), QByteArray(","));
        }
    }

    void apply_data()
    {
        // Fields: warn/crash upper, warn/crash lower (millivolts), warn/crash temperature, journal.
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("applied");
        auto row = [](const char* name, const char* fields, const QString& message,
                      const char* applied = "") {
            QTest::newRow(name) << QString(fields) << message << QString(applied);
        };
        row("example values", "1200|1300|1200|1300|4|5|1.02", {}, "1.2 1.3 1.2 1.3 4 5 1.02 sounds 01");
        row("other values", "100|250|50|900|0.5|12|3", {}, "0.1 0.25 0.05 0.9 0.5 12 3 sounds 01");
        row("journal 1", "1200|1300|1200|1300|4|5|1", {}, "1.2 1.3 1.2 1.3 4 5 1 sounds 01");
        row("journal 100", "1200|1300|1200|1300|4|5|100", {}, "1.2 1.3 1.2 1.3 4 5 100 sounds 01");
        row("comma decimals", "1200,5|1300,5|1100,25|1300|1,5|2,5|1,5", {},
            "1.2005 1.3005 1.10025 1.3 1.5 2.5 1.5 sounds 01");
        row("emergency 7", "1200|1300|1200|1300|4|7|1.02", {}, "1.2 1.3 1.2 1.3 4 7 1.02 sounds 01");
        row("equal temperature", "1200|1300|1200|1300|5|5|1.02", kOrder);
        row("equal temperature, comma and stop", "1200|1300|1200|1300|2,5|2.5|1.02", kOrder);
        row("equal upper voltage", "1300|1300|1200|1300|4|5|1.02", kOrder);
        row("lower warning above emergency", "1200|1300|1400|1300|4|5|1.02", kOrder);
        row("emergency 1,5 under the warning", "1200|1300|1200|1300|4|1,5|1.02", kOrder);
        row("blanks around 1.5", "1200|1300|1200|1300|4| 1.5 |1.02", kOrder);
        row("zero", "0|1300|1200|1300|4|5|1.02", kPositive);
        row("negative", "1200|1300|1200|1300|4|-5|1.02", kPositive);
        row("empty", "1200|1300|1200|1300||5|1.02", kPositive);
        row("not a number", "1200|1300|1200|abc|4|5|1.02", kPositive);
        for (const char* text : {"nan", "NaN", "inf", "-inf", "1e400", "-0", "0x10"})
            row(text, qPrintable(QString("1200|1300|1200|1300|4|%1|1.02").arg(text)), kPositive);
        row("zero before other faults", "0|1300|1200|1300|5|5|0.99", kPositive);
        row("order before journal", "1200|1300|1200|1300|5|5|0.99", kOrder);
        row("journal 0.99", "1200|1300|1200|1300|4|5|0.99", kJournal);
        row("journal 0,99", "1200|1300|1200|1300|4|5|0,99", kJournal);
        row("journal empty", "1200|1300|1200|1300|4|5|", kJournal);
    }
    void apply()
    {
        QFETCH(QString, fields);
        QFETCH(QString, message);
        QFETCH(QString, applied);
        PageRig rig([](int id) { return id < 8 ? 1 : 0; });
        const QString before = appliedValues(rig.thresholds, rig.settings);
        QSignalSpy changed(rig.page.get(), &GroupsSettingsWindow::groupsChanged);
        rig.ui.typeThresholds(fields.split('|'));
        rig.ui.check(QStringLiteral("checkBox_warnSound"))->setChecked(false);
        const QList<Box> boxes = clickAnsweringBoxes(rig.ui.apply());
        QCOMPARE(boxes.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(boxes[0].title + boxes[0].text, "Ошибка!" + message);
            QCOMPARE(boxes[0].buttons, 1);
            QCOMPARE(boxes[0].parent, static_cast<QWidget*>(rig.page.get()));
            // Nothing applied, nothing written, every field keeps what was typed.
            QCOMPARE(changed.count(), 0);
            QCOMPARE(appliedValues(rig.thresholds, rig.settings), before);
            QVERIFY(!QFile::exists(rig.settingsPath()));
            QCOMPARE(rig.ui.edit("lineEdit_crashTempThreshold")->text(), fields.split('|')[5]);
            return;
        }
        QCOMPARE(changed.count(), 1);
        QCOMPARE(appliedValues(rig.thresholds, rig.settings), applied);
        AlarmThresholds reread;
        Settings loaded;
        loaded.setThresholds(&reread);
        QVERIFY(loaded.load(rig.settingsPath()));
        QCOMPARE(appliedValues(reread, loaded), applied);
        // An alarm still fires for a battery past the thresholds in effect.
        Battery* hot = rig.rows[0][0];
        for (Battery* b : rig.rows[0])
            b->setThresholds(&rig.thresholds), b->setVoltage(12.0), b->setTemperature(25.0);
        hot->setTemperature(25.0 + 2 * 8 * rig.thresholds.tempEmergency);
        hot->updateState();
        QCOMPARE(hot->tempState(), 3);
    }

    void journalFieldTakesWhatApplyReads_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        const char* rows[][2] = {{"2.5", "2.5"}, {"2,5", "2,5"},   {"1.234", "1.23"}, {"150", "15"},
                                 {"100", "100"}, {"-3", "3"},      {"a1b", "1"},      {"1e2", "12"},
                                 {"1 5", "15"},  {"1,2.5", "1,25"}};
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString(row[0]) << QString(row[1]);
    }
    void journalFieldTakesWhatApplyReads()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        PageRig rig;
        typeInto(rig.ui.edit("lineEdit_journalSize"), typed);
        QCOMPARE(rig.ui.edit("lineEdit_journalSize")->text(), shown);
    }

    void movesOfOneGroup_data()
    {
        QTest::addColumn<int>("group");
        for (int g = 1; g <= 6; ++g)
            QTest::addRow("group %d", g) << g;
    }
    void movesOfOneGroup()
    {
        QFETCH(int, group);
        PageRig rig;
        QListWidget* channels = rig.ui.list(0);
        QListWidget* list = rig.ui.list(group);
        rig.ui.moveIn(group, {17, 5, 90});
        QCOMPARE(idsIn(list), QList<int>({5, 17, 90}));
        QCOMPARE(channels->count(), 125);
        selectByClicks(list, {17});
        QTest::mouseClick(rig.ui.button(QStringLiteral("pbOutGroup%1").arg(group)), Qt::LeftButton);
        QCOMPARE(idsIn(list), QList<int>({5, 90}));
        QVERIFY(idsIn(channels).contains(17) && channels->count() == 126);
        QTest::mouseClick(rig.ui.button(QStringLiteral("pbOutAllGroup%1").arg(group)), Qt::LeftButton);
        QVERIFY(list->count() == 0 && channels->count() == 128);
        // Moves alone change no group and no setting; cancel puts them back.
        rig.ui.moveIn(group, {3, 4});
        typeInto(rig.ui.edit("lineEdit_crashTempThreshold"), "9");
        QCOMPARE(rig.groups[0]->batteryCount(), 128);
        QCOMPARE(rig.settings.groupOf(0, 3), 0);
        QTest::mouseClick(rig.ui.cancel(), Qt::LeftButton);
        QVERIFY(list->count() == 0 && channels->count() == 128);
        QCOMPARE(rig.ui.edit("lineEdit_crashTempThreshold")->text(), QString("5"));
        QVERIFY(!QFile::exists(rig.settingsPath()));
    }

    void applyRegroups_data()
    {
        QTest::addColumn<QList<int>>("usedGroups");
        QTest::newRow("none") << QList<int>();
        QTest::newRow("groups 1 and 3") << QList<int>({1, 3});
        QTest::newRow("group 6 only") << QList<int>({6});
        QTest::newRow("all six") << QList<int>({1, 2, 3, 4, 5, 6});
    }
    void applyRegroups()
    {
        QFETCH(QList<int>, usedGroups);
        PageRig rig([](int id) { return id == 100 ? 5 : 0; });
        QList<int> addresses;
        for (int g = 1; g <= 6; ++g) {
            GroupsSettingsWindow::setGroupModbusAddress(g, 10 + g);
            GroupsSettingsWindow::setGroupFirstSensor(g, 20 + g);
            if (usedGroups.contains(g) || g == 5)
                addresses << 10 + g;
        }
        modbusAddressList = {99};
        for (int g : usedGroups)
            rig.ui.moveIn(g, {g * 7, g * 7 + 1});
        QCOMPARE(modbusAddressList, QList<int>({99})); // moves alone change nothing
        QCOMPARE(clickAnsweringBoxes(rig.ui.apply()).size(), 0);
        QCOMPARE(modbusAddressList, addresses);
        AlarmThresholds reread;
        Settings loaded;
        loaded.setThresholds(&reread);
        QVERIFY(loaded.load(rig.settingsPath()));
        for (int g = 1; g <= 6; ++g) {
            const QList<int> ids = usedGroups.contains(g) ? QList<int>{g * 7, g * 7 + 1} : QList<int>{};
            QCOMPARE(idsOf(rig.groups[g]), g == 5 ? ids + QList<int>{100} : ids);
            for (int id : idsOf(rig.groups[g]))
                QVERIFY(rig.rows[id / 8][id % 8]->groupNumber() == g &&
                        rig.settings.groupOf(id / 8, id % 8) == g && loaded.groupOf(id / 8, id % 8) == g);
            QVERIFY(loaded.modbusAddr(g) == 10 + g && loaded.dat(g) == 20 + g);
        }
        QCOMPARE(rig.groups[0]->batteryCount(), 127 - 2 * usedGroups.size());
    }

    void itemTexts_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("modbus");
        QTest::addColumn<QString>("text");
        QTest::newRow("native 3/4") << 29 << false << "МСД 03 - МКП 06";
        QTest::newRow("modbus 3/4") << 28 << true << "Батарея 029";
        QTest::newRow("native first") << 0 << false << "МСД 00 - МКП 01";
        QTest::newRow("modbus first") << 0 << true << "Батарея 001";
        QTest::newRow("native last") << 127 << false << "МСД 15 - МКП 08";
        QTest::newRow("modbus last") << 127 << true << "Батарея 128";
        QTest::newRow("native row 9") << 72 << false << "МСД 09 - МКП 01";
        QTest::newRow("native row 10") << 80 << false << "МСД 10 - МКП 01";
        QTest::newRow("modbus 9") << 8 << true << "Батарея 009";
        QTest::newRow("modbus 10") << 9 << true << "Батарея 010";
        QTest::newRow("modbus 99") << 98 << true << "Батарея 099";
        QTest::newRow("modbus 100") << 99 << true << "Батарея 100";
    }
    void itemTexts()
    {
        QFETCH(int, id);
        QFETCH(bool, modbus);
        QFETCH(QString, text);
        ModeGuard mode(modbus);
        PageRig rig([id](int n) { return n == id ? 4 : 0; });
        const BatteryListWidgetItem* item = itemAt(rig.ui.list(4), 0);
        QVERIFY(item && rig.ui.list(4)->count() == 1);
        QCOMPARE(item->text(), text);
        QVERIFY(item->batteryId() == id && item->msdIndex() == id / 8 && item->mkpIndex() == id % 8);
        // Lists keep battery order through select-all and single moves back.
        QListWidget* channels = rig.ui.list(0);
        channels->setFocus();
        QTest::keyClick(channels, Qt::Key_A, Qt::ControlModifier);
        QTest::mouseClick(rig.ui.button("pbInGroup4"), Qt::LeftButton);
        for (int back : {127, 64, 0}) {
            selectByClicks(rig.ui.list(4), {back});
            QTest::mouseClick(rig.ui.button("pbOutGroup4"), Qt::LeftButton);
        }
        QCOMPARE(idsIn(channels), QList<int>({0, 64, 127}));
        QTest::mouseClick(rig.ui.button("pbOutAllGroup4"), Qt::LeftButton);
        for (int i = 1; i < 128; ++i)
            QVERIFY(itemAt(channels, i)->batteryId() == i &&
                    channels->item(i - 1)->text() < channels->item(i)->text());
    }

    void modeButtonsKeepListedTexts()
    {
        ModeGuard mode(false);
        PageRig rig;
        rig.page->setModeButtons(false);
        QRadioButton* modbus = rig.ui.radio("rbModeModbus");
        QRadioButton* orvik = rig.ui.radio("rbModeOrvik");
        clickRadio(modbus);
        QVERIFY(modbusMode && modbus->isChecked());
        QCOMPARE(rig.ui.list(0)->item(0)->text(), QString("МСД 00 - МКП 01"));
        // A battery moved now is made anew, in the new style; cancel redoes them all.
        rig.ui.moveIn(1, {28});
        QCOMPARE(rig.ui.list(1)->item(0)->text(), QString("Батарея 029"));
        QTest::mouseClick(rig.ui.cancel(), Qt::LeftButton);
        QCOMPARE(rig.ui.list(0)->item(127)->text(), QString("Батарея 128"));
        clickRadio(orvik);
        QVERIFY(!modbusMode);
        rig.page->setModeButtons(true);
        QVERIFY(modbus->isChecked() && !orvik->isChecked());
        rig.page->setModeBoxEnabled(false);
        QVERIFY(!child<QGroupBox>(rig.page.get(), "groupBox")->isEnabled());
    }

    void staticAccessors_data()
    {
        QTest::addColumn<bool>("withPage");
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("set");
        QTest::addColumn<QString>("read"); // address, first sensor
        QTest::newRow("group 0") << true << 0 << 5 << "-1 -1 error error";
        QTest::newRow("group 7") << true << 7 << 5 << "-1 -1 error error";
        QTest::newRow("no page") << false << 1 << 5 << "-1 -1 error error";
        QTest::newRow("group 1") << true << 1 << 17 << "17 17 17 17";
        QTest::newRow("group 6 limits") << true << 6 << 127 << "127 127 127 127";
        QTest::newRow("above range") << true << 3 << 300 << "247 127 247 127";
        QTest::newRow("below range") << true << 4 << -4 << "1 0 1 0";
    }
    void staticAccessors()
    {
        QFETCH(bool, withPage);
        QFETCH(int, group);
        QFETCH(int, set);
        QFETCH(QString, read);
        std::unique_ptr<GroupsSettingsWindow> page(withPage ? new GroupsSettingsWindow : nullptr);
        QCOMPARE(GroupsSettingsWindow::instance, page.get());
        GroupsSettingsWindow::setGroupModbusAddress(group, set);
        GroupsSettingsWindow::setGroupFirstSensor(group, set);
        QCOMPARE(QString("%1 %2 %3 %4")
                     .arg(GroupsSettingsWindow::groupModbusAddress(group))
                     .arg(GroupsSettingsWindow::groupFirstSensor(group))
                     .arg(GroupsSettingsWindow::groupModbusAddressText(group),
                          GroupsSettingsWindow::groupFirstSensorText(group)),
                 read);
    }

    void failedSaveIsReported_data()
    {
        QTest::addColumn<bool>("sizeLimit");
        // Tests run as root, where permission bits stop no write.
        QTest::newRow("settings.xml is a folder") << false;
        QTest::newRow("file size limit (disk full)") << true;
    }
    void failedSaveIsReported()
    {
        QFETCH(bool, sizeLimit);
        PageRig rig;
        QVERIFY(sizeLimit || QDir(rig.dir.path()).mkdir(QStringLiteral("settings.xml")));
        GroupsSettingsWindow::setGroupModbusAddress(3, 30);
        QSignalSpy changed(rig.page.get(), &GroupsSettingsWindow::groupsChanged);
        rig.ui.moveIn(3, {1, 2});
        typeInto(rig.ui.edit("lineEdit_warnTempThreshold"), "2");
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(!sizeLimit || limitFileSize(1000));
        const QList<Box> boxes = clickAnsweringBoxes(rig.ui.apply());
        limitFileSize(RLIM_INFINITY);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QString("Ошибка!"));
        QVERIFY2(boxes[0].text.startsWith(kSaveFailed + "\n") &&
                     boxes[0].text.size() > kSaveFailed.size() + 1,
                 qPrintable(boxes[0].text)); // with the system's reason
        // The applied values stay in force for the run.
        QCOMPARE(changed.count(), 1);
        QCOMPARE(idsOf(rig.groups[3]), QList<int>({1, 2}));
        QCOMPARE(rig.thresholds.tempWarning, 2.0);
        QCOMPARE(modbusAddressList, QList<int>({30}));
        QVERIFY(!QFileInfo(rig.settingsPath()).isFile());
    }

    void pageInMainWindow_data()
    {
        QTest::addColumn<bool>("modbus");
        QTest::newRow("native") << false;
        QTest::newRow("modbus") << true;
    }
    void pageInMainWindow()
    {
        QFETCH(bool, modbus);
        ModeGuard mode(false);
        WindowInFolder w(settingsWith(
            QByteArray("<mode>") + (modbus ? "true" : "false") +
            "</mode><group_id msd=\"0\" mkp=\"1\">1</group_id>"
            "<group_id msd=\"2\" mkp=\"0\">3</group_id><group_id msd=\"2\" mkp=\"1\">3</group_id>"
            "<temp_warning_threshold>3</temp_warning_threshold><journal_size>2.5</journal_size>"
            "<ModbusAddr1>21</ModbusAddr1><ModbusAddr2>22</ModbusAddr2><ModbusAddr3>23</ModbusAddr3>"
            "<ModbusAddr4>300</ModbusAddr4><Dat3>40</Dat3><Dat6>x</Dat6>"));
        w.window->show();
        MainWindowForm* form = w.window->form();
        const PageWidgets page{w.window->settingsPage()};
        QCOMPARE(form->stacked_widget->indexOf(page.page), 3);
        QCOMPARE(idsIn(page.list(1)), QList<int>({1}));
        QCOMPARE(idsIn(page.list(3)), QList<int>({16, 17}));
        QCOMPARE(page.list(0)->count(), 125);
        QCOMPARE(page.edit("lineEdit_warnTempThreshold")->text() + " " +
                     page.edit("lineEdit_crashUpperThreshold")->text() + " " +
                     page.edit("lineEdit_journalSize")->text(),
                 QString("3 1300 2.5"));
        QString spins;
        for (int g = 1; g <= 6; ++g)
            spins += QString("%1/%2 ")
                         .arg(page.spin(QString("sb_group%1").arg(g))->value())
                         .arg(page.spin(QString("sb_d%1").arg(g))->value());
        QCOMPARE(spins, QString("21/0 22/0 23/40 247/0 1/0 1/0 "));
        QCOMPARE(modbusAddressList, QList<int>({21, 23}));
        QCOMPARE(page.radio("rbModeModbus")->isChecked(), modbus);
        QCOMPARE(page.radio("rbModeOrvik")->isChecked(), !modbus);
        auto fieldsShown = [&](bool shown) {
            for (const char* name : {"lb_adr2", "sb_group2", "lb_dat5", "sb_d5", "sb_group6", "lb_dat1"})
                if (child<QWidget>(page.page, name)->isVisibleTo(page.page) != shown)
                    return false;
            return true;
        };
        QVERIFY(fieldsShown(modbus));
        // The page's mode buttons switch the whole program at once.
        clickRadio(page.radio(modbus ? "rbModeOrvik" : "rbModeModbus"));
        QCOMPARE(modbusMode, !modbus);
        QCOMPARE(form->menuModbus_mode->title(),
                 modbus ? QString("Текущий режим: ОРВИК-x") : QString("Текущий режим: Modbus"));
        QCOMPARE(form->action_Modbus->isChecked(), !modbus);
        QVERIFY(fieldsShown(!modbus));
    }

    void regroupAllSurvivesRestart()
    {
        ModeGuard mode(false);
        WindowInFolder w;
        auto membersOf = [](int g) {
            QList<int> ids;
            for (int id = 0; id < 128; ++id)
                if (id % 7 == g)
                    ids.append(id);
            return ids;
        };
        {
            const PageWidgets page{w.window->settingsPage()};
            for (int g = 1; g <= 6; ++g) {
                page.moveIn(g, membersOf(g));
                page.spin(QStringLiteral("sb_group%1").arg(g))->setValue(100 + g);
                page.spin(QStringLiteral("sb_d%1").arg(g))->setValue(g * 3);
            }
            page.typeThresholds({"1000", "1500", "900", "1400", "3,5", "6", "2,5"});
            page.check("checkBox_crashSound")->setChecked(false);
            clickRadio(page.radio("rbModeModbus"));
            QCOMPARE(clickAnsweringBoxes(page.apply()).size(), 0);
        }
        MainWindow::instance = nullptr;
        w.window.reset();
        modbusMode = false; // the file alone must bring the mode back
        w.window = std::make_unique<MainWindow>();
        MainWindow::instance = w.window.get();

        QVERIFY(modbusMode);
        const PageWidgets page{w.window->settingsPage()};
        for (int g = 0; g <= 6; ++g) {
            QCOMPARE(idsOf(w.window->batteryGroups()[g]), membersOf(g));
            QCOMPARE(idsIn(page.list(g)), membersOf(g));
            QVERIFY(g == 0 || (GroupsSettingsWindow::groupModbusAddress(g) == 100 + g &&
                               GroupsSettingsWindow::groupFirstSensor(g) == g * 3));
        }
        QCOMPARE(modbusAddressList, QList<int>({101, 102, 103, 104, 105, 106}));
        QCOMPARE(appliedValues(w.window->thresholdRecord(), w.window->settingsRecord()),
                 QString("1 1.5 0.9 1.4 3.5 6 2.5 sounds 10"));
        QCOMPARE(page.edit("lineEdit_warnLowerThreshold")->text(), QString("900"));
        QCOMPARE(page.list(1)->item(0)->text(), QString("Батарея 002"));
    }
};

QTEST_MAIN(TestSettingsPage)
#include "tst_settings_page.moc"
