// The settings page driven through its widgets: typed fields, clicked buttons, the
// information boxes it opens, the groups and settings.xml it writes, and the page inside
// the real main window across a restart.
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
#include <sys/resource.h>

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

// The real program's window, started and stopped in one working directory.
struct ProgramInFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    std::unique_ptr<MainWindow> window;

    explicit ProgramInFolder(const QByteArray& settingsXml = QByteArray())
    {
        if (!settingsXml.isNull()) {
            QFile f(dir.filePath(QStringLiteral("settings.xml")));
            f.open(QIODevice::WriteOnly);
            f.write(settingsXml);
        }
        QDir::setCurrent(dir.path());
        start();
    }
    ~ProgramInFolder()
    {
        stop();
        QDir::setCurrent(previous);
    }
    void start()
    {
        window = std::make_unique<MainWindow>();
        MainWindow::instance = window.get();
        window->show();
    }
    void stop()
    {
        MainWindow::instance = nullptr;
        window.reset();
    }
    PageWidgets page() const { return PageWidgets{window->settingsPage()}; }
};

QByteArray settingsWith(const QByteArray& children)
{
    return "<!DOCTYPE settings>\n<settings>\n" + children + "</settings>\n";
}

const QString kPositive = QStringLiteral("Значения должны быть положительными!");
const QString kOrder = QStringLiteral("Значение для предупреждения должно быть ниже значения для аварии!");
const QString kJournal = QStringLiteral("Размер журнала не может быть меньше 1Мб!");
const QString kSaveFailed = QStringLiteral("Не удалось сохранить настройки в файл settings.xml");
} // namespace

class TestSettingsPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void formObjects_data();
    void formObjects();
    void typedNumbers_data();
    void typedNumbers();
    void apply_data();
    void apply();
    void journalFieldTakesWhatApplyReads_data();
    void journalFieldTakesWhatApplyReads();
    void movesOfOneGroup_data();
    void movesOfOneGroup();
    void cancelPutsMovedBatteriesBack();
    void applyRegroupsAndSaves();
    void addressListSkipsEmptyGroups_data();
    void addressListSkipsEmptyGroups();
    void itemTexts_data();
    void itemTexts();
    void sortOrderOfAll128_data();
    void sortOrderOfAll128();
    void modeButtonsKeepListedTexts();
    void staticAccessors_data();
    void staticAccessors();
    void failedSaveIsReported_data();
    void failedSaveIsReported();
    void pageInMainWindow_data();
    void pageInMainWindow();
    void regroupAllSurvivesRestart();
};

void TestSettingsPage::initTestCase()
{
    QVERIFY2(!QFontDatabase().families().isEmpty(), "no font: the widgets would have no size");
    if (qEnvironmentVariable("LANG").startsWith(QLatin1String("ru_RU"))) {
        // Make sure the comma locale is really in force, in Qt and in the C run-time.
        QCOMPARE(QLocale().decimalPoint(), QLatin1Char(','));
        QCOMPARE(QByteArray(std::localeconv()->decimal_point), QByteArray(","));
    }
}

void TestSettingsPage::formObjects_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("fixedSize");
    const QSize any;
    QTest::newRow("heading") << "label"
                             << "Настройка групп АБ" << any;
    QTest::newRow("channels") << "label_channels"
                              << "Каналы ОРВИК-М" << any;
    QTest::newRow("warning") << "label_warning"
                             << "Предупреждение" << any;
    QTest::newRow("crash") << "label_crash"
                           << "Авария" << any;
    QTest::newRow("journal") << "label_2"
                             << "Размер журнала (в МБ)" << any;
    QTest::newRow("modbus") << "rbModeModbus"
                            << "Modbus" << any;
    QTest::newRow("orvik") << "rbModeOrvik"
                           << "ОРВИК-x" << any;
    QTest::newRow("apply") << "pushButton_apply"
                           << "Применить" << any;
    QTest::newRow("cancel") << "pushButton_cancel"
                            << "Отмена" << any;
    for (int g = 1; g <= 6; ++g) {
        const bool left = g <= 3;
        const QString n = QString::number(g);
        auto row = [](const QString& name, const QString& text, const QSize& size) {
            QTest::newRow(qPrintable(name)) << name << text << size;
        };
        row("label_group" + n, "Группа " + n, any);
        row("pbInGroup" + n, left ? "<" : ">", QSize(20, 20));
        row("pbOutGroup" + n, left ? ">" : "<", QSize(20, 20));
        row("pbOutAllGroup" + n, left ? ">>" : "<<", QSize(30, 30));
        row("lb_adr" + n, "Адрес:", any);
        row("lb_dat" + n, "Датчик:", any);
    }
}

void TestSettingsPage::formObjects()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QSize, fixedSize);
    PageRig rig;
    QWidget* widget = child<QWidget>(rig.page.get(), name);
    QCOMPARE(widget->property("text").toString(), text);
    if (fixedSize.isValid()) {
        QCOMPARE(widget->minimumSize(), fixedSize);
        QCOMPARE(widget->maximumSize(), fixedSize);
    }
    // Each group's buttons stand between its list and the channel list.
    if (name.startsWith(QLatin1String("pbIn"))) {
        const int group = name.right(1).toInt();
        const auto* list = rig.page->findChild<QWidget*>(QStringLiteral("listWidget_group%1").arg(group));
        const auto* channels = rig.page->findChild<QWidget*>(QStringLiteral("listWidget_channels"));
        const int x = widget->mapTo(rig.page.get(), QPoint()).x();
        if (group <= 3)
            QVERIFY(list->geometry().right() < x && x < channels->geometry().left());
        else
            QVERIFY(channels->geometry().right() < x && x < list->geometry().left());
    }
}

void TestSettingsPage::apply_data()
{
    // Fields in the order warn/crash upper, warn/crash lower, warn/crash temperature,
    // journal; expected values in the same order (volts, degrees, megabytes).
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<double>>("stored");
    const QList<double> none;
    auto row = [](const char* name, const QStringList& fields, const QString& message,
                  const QList<double>& stored) { QTest::newRow(name) << fields << message << stored; };
    row("example values", {"1200", "1300", "1200", "1300", "4", "5", "1.02"}, {},
        {1.2, 1.3, 1.2, 1.3, 4, 5, 1.02});
    row("other values", {"100", "250", "50", "900", "0.5", "12", "3"}, {},
        {0.1, 0.25, 0.05, 0.9, 0.5, 12, 3});
    row("equal temperature", {"1200", "1300", "1200", "1300", "5", "5", "1.02"}, kOrder, none);
    row("equal upper voltage", {"1300", "1300", "1200", "1300", "4", "5", "1.02"}, kOrder, none);
    row("lower warning above emergency", {"1200", "1300", "1400", "1300", "4", "5", "1.02"}, kOrder, none);
    row("zero", {"0", "1300", "1200", "1300", "4", "5", "1.02"}, kPositive, none);
    row("negative", {"1200", "1300", "1200", "1300", "4", "-5", "1.02"}, kPositive, none);
    row("empty", {"1200", "1300", "1200", "1300", "", "5", "1.02"}, kPositive, none);
    row("not a number", {"1200", "1300", "1200", "abc", "4", "5", "1.02"}, kPositive, none);
    row("nan", {"1200", "1300", "1200", "1300", "nan", "5", "1.02"}, kPositive, none);
    row("infinity", {"1200", "inf", "1200", "1300", "4", "5", "1.02"}, kPositive, none);
    row("zero before other faults", {"0", "1300", "1200", "1300", "5", "5", "0.99"}, kPositive, none);
    row("order before journal", {"1200", "1300", "1200", "1300", "5", "5", "0.99"}, kOrder, none);
    row("journal 0.99", {"1200", "1300", "1200", "1300", "4", "5", "0.99"}, kJournal, none);
    row("journal empty", {"1200", "1300", "1200", "1300", "4", "5", ""}, kJournal, none);
    row("journal 1", {"1200", "1300", "1200", "1300", "4", "5", "1"}, {}, {1.2, 1.3, 1.2, 1.3, 4, 5, 1});
    row("journal 100", {"1200", "1300", "1200", "1300", "4", "5", "100"}, {},
        {1.2, 1.3, 1.2, 1.3, 4, 5, 100});
    row("comma decimals", {"1200,5", "1300,5", "1100,25", "1300", "1,5", "2,5", "1,5"}, {},
        {1.2005, 1.3005, 1.10025, 1.3, 1.5, 2.5, 1.5});
    row("comma journal 0,99", {"1200", "1300", "1200", "1300", "4", "5", "0,99"}, kJournal, none);
    row("comma equal temperature", {"1200", "1300", "1200", "1300", "2,5", "2.5", "1.02"}, kOrder, none);
}

void TestSettingsPage::typedNumbers_data()
{
    // Typed into the temperature emergency field, the other fields holding the defaults.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<double>("tempEmergency");
    QTest::newRow("nan") << "nan" << kPositive << 5.0;
    QTest::newRow("NaN") << "NaN" << kPositive << 5.0;
    QTest::newRow("inf") << "inf" << kPositive << 5.0;
    QTest::newRow("-inf") << "-inf" << kPositive << 5.0;
    QTest::newRow("1e400") << "1e400" << kPositive << 5.0;
    QTest::newRow("-0") << "-0" << kPositive << 5.0;
    QTest::newRow("0x10") << "0x10" << kPositive << 5.0;
    QTest::newRow("blanks around 1.5") << " 1.5 " << kOrder << 5.0;
    QTest::newRow("comma 1,5") << "1,5" << kOrder << 5.0;
    QTest::newRow("empty") << "" << kPositive << 5.0;
    QTest::newRow("ordinary 7") << "7" << QString() << 7.0;
    QTest::newRow("comma 6,5") << "6,5" << QString() << 6.5;
}

void TestSettingsPage::typedNumbers()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(double, tempEmergency);
    PageRig rig([](int id) { return id < 8 ? 1 : 0; });
    rig.ui.typeThresholds({"1200", "1300", "1200", "1300", "4", text, "1.02"});
    const QList<Box> boxes = clickAnsweringBoxes(rig.ui.apply());
    QCOMPARE(boxes.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(boxes[0].text, message);
    QCOMPARE(rig.thresholds.tempEmergency, tempEmergency);

    // An alarm still fires for a battery past the thresholds in effect.
    Battery* hot = rig.rows[0][0];
    for (Battery* b : rig.rows[0]) {
        b->setThresholds(&rig.thresholds);
        b->setVoltage(12.0);
        b->setTemperature(25.0);
    }
    hot->setTemperature(25.0 + 2 * 8 * tempEmergency);
    hot->updateState();
    QCOMPARE(hot->tempState(), 3);
}

void TestSettingsPage::apply()
{
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    QFETCH(QList<double>, stored);
    PageRig rig([](int id) { return id < 8 ? 1 : 0; });
    const AlarmThresholds before = rig.thresholds;
    QSignalSpy changed(rig.page.get(), &GroupsSettingsWindow::groupsChanged);
    rig.ui.typeThresholds(fields);
    rig.ui.check(QStringLiteral("checkBox_warnSound"))->setChecked(false);

    const QList<Box> boxes = clickAnsweringBoxes(rig.ui.apply());

    const AlarmThresholds& t = rig.thresholds;
    if (!message.isEmpty()) {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QString("Ошибка!"));
        QCOMPARE(boxes[0].text, message);
        QCOMPARE(boxes[0].buttons, 1);
        QCOMPARE(boxes[0].parent, static_cast<QWidget*>(rig.page.get()));
        // Nothing applied, nothing written, every field keeps what was typed.
        QCOMPARE(changed.count(), 0);
        QCOMPARE(t.voltHighWarning, before.voltHighWarning);
        QCOMPARE(t.tempEmergency, before.tempEmergency);
        QCOMPARE(rig.settings.journalSize(), Settings::defaultJournalSize);
        QVERIFY(rig.settings.warningAlarm());
        QVERIFY(!QFile::exists(rig.settingsPath()));
        QCOMPARE(rig.ui.edit("lineEdit_warnTempThreshold")->text(), fields[4]);
        QCOMPARE(rig.ui.edit("lineEdit_journalSize")->text(), fields[6]);
        return;
    }
    QCOMPARE(boxes.size(), 0);
    QCOMPARE(changed.count(), 1);
    const QList<double> got = {t.voltHighWarning,         t.voltHighEmergency, t.voltLowWarning,
                               t.voltLowEmergency,        t.tempWarning,       t.tempEmergency,
                               rig.settings.journalSize()};
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(qFuzzyCompare(got[i], stored[i]), qPrintable(QString("value %1: %2").arg(i).arg(got[i])));
    QVERIFY(!rig.settings.warningAlarm());
    QVERIFY(rig.settings.emergencyAlarm());

    // The file reads back to what was applied.
    AlarmThresholds reread;
    Settings loaded;
    loaded.setThresholds(&reread);
    loaded.reset();
    QVERIFY(loaded.load(rig.settingsPath()));
    QCOMPARE(reread.voltHighWarning, t.voltHighWarning);
    QCOMPARE(reread.voltLowEmergency, t.voltLowEmergency);
    QCOMPARE(reread.tempWarning, t.tempWarning);
    QCOMPARE(loaded.journalSize(), rig.settings.journalSize());
    QVERIFY(!loaded.warningAlarm());
}

void TestSettingsPage::journalFieldTakesWhatApplyReads_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    const QList<QPair<const char*, const char*>> rows = {
        {"2.5", "2.5"}, {"2,5", "2,5"}, {"1.234", "1.23"}, {"150", "15"}, {"100", "100"},
        {"-3", "3"},    {"a1b", "1"},   {"1e2", "12"},     {"1 5", "15"}, {"1,2.5", "1,25"},
    };
    for (const auto& row : rows)
        QTest::newRow(row.first) << QString::fromUtf8(row.first) << QString::fromUtf8(row.second);
}

void TestSettingsPage::journalFieldTakesWhatApplyReads()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    PageRig rig;
    QLineEdit* journal = rig.ui.edit("lineEdit_journalSize");
    typeInto(journal, typed);
    QCOMPARE(journal->text(), shown);
}

void TestSettingsPage::movesOfOneGroup_data()
{
    QTest::addColumn<int>("group");
    for (int g = 1; g <= 6; ++g)
        QTest::newRow(qPrintable(QString("group %1").arg(g))) << g;
}

void TestSettingsPage::movesOfOneGroup()
{
    QFETCH(int, group);
    PageRig rig;
    QListWidget* channels = rig.ui.list(0);
    QListWidget* list = rig.ui.list(group);

    rig.ui.moveIn(group, {17, 5, 90});
    QCOMPARE(idsIn(list), QList<int>({5, 17, 90}));
    QCOMPARE(channels->count(), 125);
    QVERIFY(!idsIn(channels).contains(17));

    selectByClicks(list, {17});
    QTest::mouseClick(rig.ui.button(QStringLiteral("pbOutGroup%1").arg(group)), Qt::LeftButton);
    QCOMPARE(idsIn(list), QList<int>({5, 90}));
    QCOMPARE(channels->count(), 126);
    QVERIFY(idsIn(channels).contains(17));

    QTest::mouseClick(rig.ui.button(QStringLiteral("pbOutAllGroup%1").arg(group)), Qt::LeftButton);
    QCOMPARE(list->count(), 0);
    QCOMPARE(channels->count(), 128);

    // Moves alone change no group and no setting.
    for (int g = 1; g <= 6; ++g)
        QCOMPARE(rig.groups[g]->batteryCount(), 0);
    QCOMPARE(rig.groups[0]->batteryCount(), 128);
    QCOMPARE(rig.settings.groupOf(0, 5), 0);
}

void TestSettingsPage::cancelPutsMovedBatteriesBack()
{
    PageRig rig([](int id) { return id == 40 ? 2 : 0; });
    QSignalSpy changed(rig.page.get(), &GroupsSettingsWindow::groupsChanged);
    rig.ui.moveIn(2, {3, 4});
    typeInto(rig.ui.edit("lineEdit_crashTempThreshold"), "9");
    QCOMPARE(idsIn(rig.ui.list(2)), QList<int>({3, 4, 40}));
    QTest::mouseClick(rig.ui.cancel(), Qt::LeftButton);
    QCOMPARE(idsIn(rig.ui.list(2)), QList<int>({40}));
    QCOMPARE(rig.ui.list(0)->count(), 127);
    QCOMPARE(rig.ui.edit("lineEdit_crashTempThreshold")->text(), QString("5"));
    QCOMPARE(idsOf(rig.groups[2]), QList<int>({40}));
    QCOMPARE(changed.count(), 0);
    QVERIFY(!QFile::exists(rig.settingsPath()));
}

void TestSettingsPage::applyRegroupsAndSaves()
{
    PageRig rig([](int id) { return id == 100 ? 5 : 0; });
    GroupsSettingsWindow::setGroupModbusAddress(2, 33);
    GroupsSettingsWindow::setGroupModbusAddress(5, 55);
    GroupsSettingsWindow::setGroupFirstSensor(2, 16);
    rig.page->updateModbusAddressList();
    QCOMPARE(modbusAddressList, QList<int>({55}));
    QSignalSpy changed(rig.page.get(), &GroupsSettingsWindow::groupsChanged);

    rig.ui.moveIn(2, {9, 10});
    QCOMPARE(modbusAddressList, QList<int>({55})); // moves alone change nothing
    const QList<Box> boxes = clickAnsweringBoxes(rig.ui.apply());
    QCOMPARE(boxes.size(), 0);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(idsOf(rig.groups[2]), QList<int>({9, 10}));
    QCOMPARE(idsOf(rig.groups[5]), QList<int>({100}));
    QCOMPARE(rig.groups[0]->batteryCount(), 125);
    QCOMPARE(rig.rows[1][1]->groupNumber(), 2);
    QCOMPARE(rig.settings.groupOf(1, 2), 2);
    QCOMPARE(modbusAddressList, QList<int>({33, 55}));

    AlarmThresholds reread;
    Settings loaded;
    loaded.setThresholds(&reread);
    loaded.reset();
    QVERIFY(loaded.load(rig.settingsPath()));
    for (int m = 0; m < 16; ++m)
        for (int p = 0; p < 8; ++p)
            QCOMPARE(loaded.groupOf(m, p), rig.settings.groupOf(m, p));
    QCOMPARE(loaded.modbusAddr(2), 33);
    QCOMPARE(loaded.dat(2), 16);
    QCOMPARE(loaded.modbusAddr(5), 55);
}

void TestSettingsPage::addressListSkipsEmptyGroups_data()
{
    QTest::addColumn<QList<int>>("usedGroups");
    QTest::addColumn<QList<int>>("addresses");
    QTest::newRow("none") << QList<int>() << QList<int>();
    QTest::newRow("groups 1 and 3") << QList<int>({1, 3}) << QList<int>({11, 13});
    QTest::newRow("group 6 only") << QList<int>({6}) << QList<int>({16});
    QTest::newRow("all six") << QList<int>({1, 2, 3, 4, 5, 6}) << QList<int>({11, 12, 13, 14, 15, 16});
}

void TestSettingsPage::addressListSkipsEmptyGroups()
{
    QFETCH(QList<int>, usedGroups);
    QFETCH(QList<int>, addresses);
    PageRig rig;
    for (int g = 1; g <= 6; ++g)
        GroupsSettingsWindow::setGroupModbusAddress(g, 10 + g);
    modbusAddressList = {99};
    for (int g : usedGroups)
        rig.ui.moveIn(g, {g * 7, g * 7 + 1});
    QCOMPARE(clickAnsweringBoxes(rig.ui.apply()).size(), 0);
    QCOMPARE(modbusAddressList, addresses);
}

void TestSettingsPage::itemTexts_data()
{
    QTest::addColumn<int>("msd");
    QTest::addColumn<int>("mkp");
    QTest::addColumn<bool>("modbus");
    QTest::addColumn<QString>("text");
    QTest::newRow("native 3/4") << 3 << 4 << false << "МСД 03 - МКП 05";
    QTest::newRow("modbus 3/4") << 3 << 4 << true << "Батарея 029";
    QTest::newRow("native first") << 0 << 0 << false << "МСД 00 - МКП 01";
    QTest::newRow("modbus first") << 0 << 0 << true << "Батарея 001";
    QTest::newRow("native last") << 15 << 7 << false << "МСД 15 - МКП 08";
    QTest::newRow("modbus last") << 15 << 7 << true << "Батарея 128";
    QTest::newRow("native row 9") << 9 << 0 << false << "МСД 09 - МКП 01";
    QTest::newRow("native row 10") << 10 << 0 << false << "МСД 10 - МКП 01";
    QTest::newRow("modbus 9") << 1 << 0 << true << "Батарея 009";
    QTest::newRow("modbus 10") << 1 << 1 << true << "Батарея 010";
    QTest::newRow("modbus 99") << 12 << 2 << true << "Батарея 099";
    QTest::newRow("modbus 100") << 12 << 3 << true << "Батарея 100";
}

void TestSettingsPage::itemTexts()
{
    QFETCH(int, msd);
    QFETCH(int, mkp);
    QFETCH(bool, modbus);
    QFETCH(QString, text);
    ModeGuard mode(modbus);
    const int id = msd * 8 + mkp;
    PageRig rig([id](int n) { return n == id ? 4 : 0; });
    QListWidget* list = rig.ui.list(4);
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->type(), 1001);
    const BatteryListWidgetItem* item = itemAt(list, 0);
    QCOMPARE(item->text(), text);
    QCOMPARE(item->batteryId(), id);
    QCOMPARE(item->msdIndex(), msd);
    QCOMPARE(item->mkpIndex(), mkp);
}

void TestSettingsPage::sortOrderOfAll128_data()
{
    QTest::addColumn<bool>("modbus");
    QTest::newRow("native") << false;
    QTest::newRow("modbus") << true;
}

void TestSettingsPage::sortOrderOfAll128()
{
    QFETCH(bool, modbus);
    ModeGuard mode(modbus);
    PageRig rig;
    QList<int> inOrder;
    for (int id = 0; id < 128; ++id)
        inOrder.append(id);
    QListWidget* channels = rig.ui.list(0);
    QCOMPARE(idsIn(channels), inOrder);
    for (int i = 1; i < channels->count(); ++i)
        QVERIFY(channels->item(i - 1)->text() < channels->item(i)->text());

    // All of them into group 4 by select-all, then back one by one from the end and
    // the rest at once: every list keeps battery order throughout.
    channels->setFocus();
    QTest::keyClick(channels, Qt::Key_A, Qt::ControlModifier);
    QTest::mouseClick(rig.ui.button("pbInGroup4"), Qt::LeftButton);
    QCOMPARE(idsIn(rig.ui.list(4)), inOrder);
    QCOMPARE(channels->count(), 0);
    for (int id : {127, 64, 0}) {
        selectByClicks(rig.ui.list(4), {id});
        QTest::mouseClick(rig.ui.button("pbOutGroup4"), Qt::LeftButton);
    }
    QCOMPARE(idsIn(channels), QList<int>({0, 64, 127}));
    QTest::mouseClick(rig.ui.button("pbOutAllGroup4"), Qt::LeftButton);
    QCOMPARE(idsIn(channels), inOrder);
}

void TestSettingsPage::modeButtonsKeepListedTexts()
{
    ModeGuard mode(false);
    PageRig rig;
    rig.page->setModeButtons(false);
    QRadioButton* modbus = rig.ui.radio("rbModeModbus");
    QRadioButton* orvik = rig.ui.radio("rbModeOrvik");
    QVERIFY(orvik->isChecked() && !modbus->isChecked());

    clickRadio(modbus);
    QVERIFY(modbusMode);
    QVERIFY(modbus->isChecked());
    QCOMPARE(rig.ui.list(0)->item(0)->text(), QString("МСД 00 - МКП 01"));
    // A battery moved now is made anew, in the new style.
    rig.ui.moveIn(1, {28});
    QCOMPARE(rig.ui.list(1)->item(0)->text(), QString("Батарея 029"));
    QCOMPARE(rig.ui.list(0)->item(0)->text(), QString("МСД 00 - МКП 01"));
    QTest::mouseClick(rig.ui.cancel(), Qt::LeftButton);
    QCOMPARE(rig.ui.list(0)->item(0)->text(), QString("Батарея 001"));
    QCOMPARE(rig.ui.list(0)->item(127)->text(), QString("Батарея 128"));

    clickRadio(orvik);
    QVERIFY(!modbusMode);
    rig.page->fillFromModel();
    QCOMPARE(rig.ui.list(0)->item(28)->text(), QString("МСД 03 - МКП 05"));

    rig.page->setModeButtons(true);
    QVERIFY(modbus->isChecked() && !orvik->isChecked());
    rig.page->setModeBoxEnabled(false);
    QVERIFY(!child<QGroupBox>(rig.page.get(), "groupBox")->isEnabled());
}

void TestSettingsPage::staticAccessors_data()
{
    QTest::addColumn<bool>("withPage");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("setAddress");
    QTest::addColumn<int>("setSensor");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("sensor");
    QTest::newRow("group 0") << true << 0 << 5 << 5 << -1 << -1;
    QTest::newRow("group 7") << true << 7 << 5 << 5 << -1 << -1;
    QTest::newRow("group -1") << true << -1 << 5 << 5 << -1 << -1;
    QTest::newRow("no page") << false << 1 << 5 << 5 << -1 << -1;
    QTest::newRow("group 1") << true << 1 << 17 << 40 << 17 << 40;
    QTest::newRow("group 6 limits") << true << 6 << 247 << 127 << 247 << 127;
    QTest::newRow("above range") << true << 3 << 300 << 200 << 247 << 127;
    QTest::newRow("below range") << true << 4 << 0 << -4 << 1 << 0;
}

void TestSettingsPage::staticAccessors()
{
    QFETCH(bool, withPage);
    QFETCH(int, group);
    QFETCH(int, setAddress);
    QFETCH(int, setSensor);
    QFETCH(int, address);
    QFETCH(int, sensor);
    std::unique_ptr<GroupsSettingsWindow> page;
    if (withPage)
        page = std::make_unique<GroupsSettingsWindow>();
    QCOMPARE(GroupsSettingsWindow::instance, page.get());
    GroupsSettingsWindow::setGroupModbusAddress(group, setAddress);
    GroupsSettingsWindow::setGroupFirstSensor(group, setSensor);
    QCOMPARE(GroupsSettingsWindow::groupModbusAddress(group), address);
    QCOMPARE(GroupsSettingsWindow::groupFirstSensor(group), sensor);
    const QString error = QStringLiteral("error");
    QCOMPARE(GroupsSettingsWindow::groupModbusAddressText(group),
             address < 0 ? error : QString::number(address));
    QCOMPARE(GroupsSettingsWindow::groupFirstSensorText(group), sensor < 0 ? error : QString::number(sensor));
    if (withPage && address > 0) {
        QCOMPARE(child<QSpinBox>(page.get(), QStringLiteral("sb_group%1").arg(group))->value(), address);
        QCOMPARE(child<QSpinBox>(page.get(), QStringLiteral("sb_d%1").arg(group))->value(), sensor);
    }
}

void TestSettingsPage::failedSaveIsReported_data()
{
    QTest::addColumn<bool>("sizeLimit");
    // Tests run as root, where permission bits stop no write.
    QTest::newRow("settings.xml is a folder") << false;
    QTest::newRow("file size limit (disk full)") << true;
}

void TestSettingsPage::failedSaveIsReported()
{
    QFETCH(bool, sizeLimit);
    PageRig rig;
    if (!sizeLimit)
        QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("settings.xml")));
    GroupsSettingsWindow::setGroupModbusAddress(3, 30);
    QSignalSpy changed(rig.page.get(), &GroupsSettingsWindow::groupsChanged);
    rig.ui.moveIn(3, {1, 2});
    typeInto(rig.ui.edit("lineEdit_warnTempThreshold"), "2");

    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (sizeLimit) {
        rlimit tight = saved;
        tight.rlim_cur = 1000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
    }
    const QList<Box> boxes = clickAnsweringBoxes(rig.ui.apply());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].title, QString("Ошибка!"));
    QVERIFY2(boxes[0].text.startsWith(kSaveFailed + "\n"), qPrintable(boxes[0].text));
    QVERIFY2(boxes[0].text.size() > kSaveFailed.size() + 1, "the system's reason is missing");
    QCOMPARE(boxes[0].buttons, 1);
    // The applied values stay in force for the run.
    QCOMPARE(changed.count(), 1);
    QCOMPARE(idsOf(rig.groups[3]), QList<int>({1, 2}));
    QCOMPARE(rig.thresholds.tempWarning, 2.0);
    QCOMPARE(modbusAddressList, QList<int>({30}));
    QVERIFY(!QFileInfo(rig.settingsPath()).isFile());
}

void TestSettingsPage::pageInMainWindow_data()
{
    QTest::addColumn<bool>("modbus");
    QTest::newRow("native") << false;
    QTest::newRow("modbus") << true;
}

void TestSettingsPage::pageInMainWindow()
{
    QFETCH(bool, modbus);
    ModeGuard mode(false);
    const QByteArray xml = settingsWith(QByteArray(" <mode>") + (modbus ? "true" : "false") +
                                        "</mode>\n"
                                        " <group_id msd=\"0\" mkp=\"1\">1</group_id>\n"
                                        " <group_id msd=\"2\" mkp=\"0\">3</group_id>\n"
                                        " <group_id msd=\"2\" mkp=\"1\">3</group_id>\n"
                                        " <temp_warning_threshold>3</temp_warning_threshold>\n"
                                        " <journal_size>2.5</journal_size>\n"
                                        " <ModbusAddr1>21</ModbusAddr1><ModbusAddr2>22</ModbusAddr2>\n"
                                        " <ModbusAddr3>23</ModbusAddr3><ModbusAddr4>300</ModbusAddr4>\n"
                                        " <Dat3>40</Dat3><Dat6>x</Dat6>\n");
    ProgramInFolder program(xml);
    MainWindowForm* form = program.window->form();
    const PageWidgets page = program.page();
    QVERIFY(page.page);
    QCOMPARE(form->stacked_widget->indexOf(page.page), 3);
    QCOMPARE(idsIn(page.list(1)), QList<int>({1}));
    QCOMPARE(idsIn(page.list(3)), QList<int>({16, 17}));
    QCOMPARE(page.list(0)->count(), 125);
    QCOMPARE(page.edit("lineEdit_warnTempThreshold")->text(), QString("3"));
    QCOMPARE(page.edit("lineEdit_crashUpperThreshold")->text(), QString("1300"));
    QCOMPARE(page.edit("lineEdit_journalSize")->text(), QString("2.5"));
    QCOMPARE(page.spin("sb_group1")->value(), 21);
    QCOMPARE(page.spin("sb_group4")->value(), 247);
    QCOMPARE(page.spin("sb_group5")->value(), 1);
    QCOMPARE(page.spin("sb_d3")->value(), 40);
    QCOMPARE(page.spin("sb_d6")->value(), 0);
    QCOMPARE(modbusAddressList, QList<int>({21, 23}));
    QCOMPARE(page.radio("rbModeModbus")->isChecked(), modbus);
    QCOMPARE(page.radio("rbModeOrvik")->isChecked(), !modbus);

    const QStringList modbusFields = {"lb_adr2", "sb_group2", "lb_dat5", "sb_d5", "sb_group6", "lb_dat1"};
    auto fieldsShown = [&](bool shown) {
        for (const QString& name : modbusFields)
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
    applyMode(modbus);
    QVERIFY(fieldsShown(modbus));
}

void TestSettingsPage::regroupAllSurvivesRestart()
{
    ModeGuard mode(false);
    ProgramInFolder program;
    auto groupOf = [](int id) { return id % 7; };
    {
        const PageWidgets page = program.page();
        for (int g = 1; g <= 6; ++g) {
            QList<int> ids;
            for (int id = 0; id < 128; ++id)
                if (groupOf(id) == g)
                    ids.append(id);
            page.moveIn(g, ids);
            page.spin(QStringLiteral("sb_group%1").arg(g))->setValue(100 + g);
            page.spin(QStringLiteral("sb_d%1").arg(g))->setValue(g * 3);
        }
        page.typeThresholds({"1000", "1500", "900", "1400", "3,5", "6", "2,5"});
        page.check("checkBox_crashSound")->setChecked(false);
        clickRadio(page.radio("rbModeModbus"));
        QCOMPARE(clickAnsweringBoxes(page.apply()).size(), 0);
    }
    program.stop();
    modbusMode = false; // the file alone must bring the mode back
    program.start();

    QVERIFY(modbusMode);
    const QList<BatteryGroup*>& groups = program.window->batteryGroups();
    const PageWidgets page = program.page();
    for (int g = 0; g <= 6; ++g) {
        QList<int> expected;
        for (int id = 0; id < 128; ++id)
            if (groupOf(id) == g)
                expected.append(id);
        QCOMPARE(idsOf(groups[g]), expected);
        QCOMPARE(idsIn(page.list(g)), expected);
        if (g >= 1) {
            QCOMPARE(GroupsSettingsWindow::groupModbusAddress(g), 100 + g);
            QCOMPARE(GroupsSettingsWindow::groupFirstSensor(g), g * 3);
        }
    }
    QCOMPARE(modbusAddressList, QList<int>({101, 102, 103, 104, 105, 106}));
    const AlarmThresholds& t = program.window->thresholdRecord();
    QCOMPARE(t.voltHighWarning, 1.0);
    QCOMPARE(t.voltLowEmergency, 1.4);
    QCOMPARE(t.tempWarning, 3.5);
    QCOMPARE(program.window->settingsRecord().journalSize(), 2.5);
    QVERIFY(!program.window->settingsRecord().emergencyAlarm());
    QVERIFY(program.window->settingsRecord().warningAlarm());
    QCOMPARE(page.edit("lineEdit_warnLowerThreshold")->text(), QString("900"));
    QCOMPARE(page.list(1)->item(0)->text(), QString("Батарея 002"));
}

QTEST_MAIN(TestSettingsPage)
#include "tst_settings_page.moc"
