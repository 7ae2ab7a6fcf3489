// The history windows opened from the main window: a battery's from its tile, a group's from
// the menu.
#include "app/MainWindow.h"
#include "app/MainWindowForm.h"
#include "app/RoomFeed.h"
#include "core/Battery.h"
#include "core/BatteryGroup.h"
#include "history/HistoryRecorder.h"
#include "widgets/HistoryWindow.h"

#include <QInputDialog>

namespace {
QString batteryLabel(const Battery* b)
{
    return QString::asprintf("МСД %02d : МКП %02d", b->msdIndex(), b->mkpIndex() + 1);
}
} // namespace

std::function<int(QWidget*, const QStringList&)> MainWindow::chooseGroup = [](QWidget* parent,
                                                                              const QStringList& items) {
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(parent, tr("История группы"), tr("Группа:"), items, 0, false, &ok);
    return ok ? items.indexOf(chosen) : -1;
};

QString MainWindow::historyPath() const
{
    return roomFeed->recorder()->path();
}

HistoryWindow* MainWindow::openBatteryHistory(const Battery* battery)
{
    const int group = battery->groupNumber();
    QVector<int> members;
    if (group > 0 && group < groups.size())
        for (const Battery* b : groups[group]->batteries())
            members.append(b->id());
    const QString label = QStringLiteral("Группа %1, ").arg(group) + batteryLabel(battery);
    auto* window = new HistoryWindow(
        historyPath(), HistoryTarget::forBattery(battery->id(), label, group, members), thresholds, this);
    window->show();
    return window;
}

HistoryWindow* MainWindow::openGroupHistory(int group)
{
    if (group <= 0 || group >= groups.size() || groups[group]->batteries().isEmpty())
        return nullptr;
    QVector<int> members;
    QStringList labels;
    for (const Battery* b : groups[group]->batteries()) {
        members.append(b->id());
        labels.append(batteryLabel(b));
    }
    auto* window =
        new HistoryWindow(historyPath(), HistoryTarget::forGroup(group, members, labels), thresholds, this);
    window->show();
    return window;
}

void MainWindow::askGroupHistory()
{
    QStringList items;
    QVector<int> numbers;
    for (int g = 1; g < groups.size(); ++g) {
        if (groups[g]->batteries().isEmpty())
            continue;
        items << tr("Группа %1").arg(g);
        numbers << g;
    }
    if (items.isEmpty()) {
        showMessage(QMessageBox::Information, this, tr("История группы"), tr("Нет групп с батареями"));
        return;
    }
    const int index = chooseGroup(this, items);
    if (index >= 0 && index < numbers.size())
        openGroupHistory(numbers[index]);
}
