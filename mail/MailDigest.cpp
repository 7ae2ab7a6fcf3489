#include "mail/MailDigest.h"

#include "core/DecimalComma.h"
#include "core/StateCode.h"

#include <QLocale>

namespace MailDigest {

namespace {

QString two(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// "Группа 2, МСД 05 МКП 3", or for a lost module "МСД 05", in Modbus mode "группа 2 (адрес 7)".
QString where(const Event& e)
{
    if (e.kind() == Event::Kind::Alarm)
        return QStringLiteral("группа %1, МСД %2 МКП %3")
            .arg(e.groupNumber())
            .arg(two(e.msdIndex()))
            .arg(e.mkpIndex() + 1);
    if (e.modbusAddress() > 0 || e.groupNumber() > 0)
        return QStringLiteral("группа %1 (адрес %2)").arg(e.groupNumber()).arg(e.modbusAddress());
    return QStringLiteral("МСД %1").arg(two(e.msdIndex()));
}

// "Начало аварии", "Конец предупреждения", "Авария подтверждена", "Нет связи", ...
QString what(const Event& e)
{
    if (e.kind() == Event::Kind::CommLost)
        return e.isConfirmed() ? QStringLiteral("Потеря связи подтверждена") : QStringLiteral("Нет связи");
    if (e.kind() == Event::Kind::CommRestored)
        return QStringLiteral("Связь восстановлена");
    const bool emergency = qMax(e.voltState(), e.tempState()) >= StateCode::Emergency;
    if (e.isStarted() && e.isConfirmed())
        return emergency ? QStringLiteral("Авария подтверждена")
                         : QStringLiteral("Предупреждение подтверждено");
    return (e.isStarted() ? QStringLiteral("Начало ") : QStringLiteral("Конец ")) +
           (emergency ? QStringLiteral("аварии") : QStringLiteral("предупреждения"));
}

QString signedNumber(const char* format, double value)
{
    return (value > 0 ? QStringLiteral("+") : QString()) + decimalComma(format, value);
}

} // namespace

QString line(const Event& e)
{
    QString text = QLocale::c().toString(e.time(), QStringLiteral("dd.MM.yyyy hh:mm:ss")) +
                   QStringLiteral("  ") + what(e) + QStringLiteral(": ") + where(e);
    if (e.kind() != Event::Kind::Alarm)
        return text;
    text += QStringLiteral("; %1 В (отклонение %2 В), %3 °C (%4 °C)")
                .arg(decimalComma("%.2f", e.voltage()), signedNumber("%.2f", e.voltDeviation()),
                     decimalComma("%.1f", e.temperature()), signedNumber("%.1f", e.tempDeviation()));
    if (e.limitQuantity())
        text += QStringLiteral("; предел %1%2 %3")
                    .arg(QLatin1Char(e.limitQuantity()))
                    .arg(QLatin1Char(e.limitDirection()))
                    .arg(decimalComma("%.2f", e.limitValue()));
    return text;
}

QString subject(const QString& room, const QVector<Event>& events)
{
    QString text = QStringLiteral("[%1] ").arg(room);
    if (events.isEmpty())
        return text + QStringLiteral("Проверка почты");
    text += what(events.first()) + QStringLiteral(": ") + where(events.first());
    if (events.size() > 1)
        text += QStringLiteral(" и ещё событий: %1").arg(events.size() - 1);
    return text;
}

QString body(const QString& room, const QVector<Event>& events, const RoomSummary& now)
{
    QString text = QStringLiteral("Помещение: %1\n\n").arg(room);
    for (const Event& e : events)
        text += line(e) + QLatin1Char('\n');
    text += QStringLiteral("\nСейчас: в аварии %1, в предупреждении %2, не подтверждено %3, без связи %4.\n")
                .arg(now.emergency)
                .arg(now.warning)
                .arg(now.unconfirmed)
                .arg(now.commLost);
    text += QStringLiteral("\nПисьмо отправлено ОРВИК-Монитором.\n");
    return text;
}

} // namespace MailDigest
