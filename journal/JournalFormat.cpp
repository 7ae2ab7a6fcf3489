#include "journal/JournalFormat.h"

#include "config/FileNumber.h"
#include "core/AlarmThresholds.h"
#include "core/StateCode.h"

#include <QLocale>
#include <QTextCodec>
#include <QVector>
#include <algorithm>
#include <cmath>

namespace JournalFormat {

const QByteArray closingTags = QByteArrayLiteral("</body>\n</html>");

namespace {

const char kStyleLine[] =
    "<style>h {font-family: Times New Roman;font-weight: bold;font-size: 14pt;}</style>";
const QString kFileTimeFormat = QStringLiteral("HH:mm:ss dd/MM/yyyy");

QTextCodec* codec()
{
    static QTextCodec* const c = QTextCodec::codecForName("windows-1251");
    return c;
}

bool isStartWord(const QStringRef& word)
{
    return word == QStringLiteral("Начало") || word == QStringLiteral("НАЧАЛО") ||
           word == QStringLiteral("начало");
}

bool isConfirmedWord(const QStringRef& word)
{
    return word == QStringLiteral("подтверждено") || word == QStringLiteral("Подтверждено") ||
           word == QStringLiteral("ПОДТВЕРЖДЕНО");
}

int twoDigits(const QStringRef& text, int at)
{
    const ushort a = text.at(at).unicode(), b = text.at(at + 1).unicode();
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return -1;
    return (a - '0') * 10 + (b - '0');
}

// Most files hold only times the program wrote, in fixed width; those are read directly.
// Anything else goes to the general parser, which decides as before.
QDateTime parseTime(const QStringRef& clock, const QStringRef& date)
{
    if (clock.size() == 8 && date.size() == 10 && clock.at(2) == QLatin1Char(':') &&
        clock.at(5) == QLatin1Char(':') && date.at(2) == QLatin1Char('/') && date.at(5) == QLatin1Char('/')) {
        const int h = twoDigits(clock, 0), mi = twoDigits(clock, 3), s = twoDigits(clock, 6);
        const int d = twoDigits(date, 0), mo = twoDigits(date, 3), y1 = twoDigits(date, 6),
                  y2 = twoDigits(date, 8);
        if (h >= 0 && mi >= 0 && s >= 0 && d >= 0 && mo >= 0 && y1 >= 0 && y2 >= 0) {
            const QDate day(y1 * 100 + y2, mo, d);
            const QTime time(h, mi, s);
            if (day.isValid() && time.isValid()) {
                const QDateTime result(day, time);
                if (result.isValid() && result.time() == time)
                    return result;
            }
        }
    }
    return QLocale::c().toDateTime(clock + QLatin1Char(' ') + date, kFileTimeFormat);
}

// The file holds two-digit indices and one-digit groups. Far larger numbers are not the
// program's and would overflow the battery number arithmetic: they read as 0, like any
// text that is not a number.
constexpr int kLargestIndex = 99999;

int toInt(const QStringRef& text)
{
    const int value = text.toInt(nullptr, 10); // 0 when not a number
    return value >= -kLargestIndex && value <= kLargestIndex ? value : 0;
}

double toDouble(const QStringRef& text)
{
    double value = 0.0;
    return FileNumber::parse(text.toString(), &value) ? value : 0.0; // 0 when not a finite number
}

// " предел U>14.40 В": the absolute limit the alarm's state comes from; empty for none.
QString limitFragment(const Event& e)
{
    if (!e.limitQuantity())
        return QString();
    const bool volt = e.limitQuantity() == 'U';
    return QStringLiteral(" предел ") + QLatin1Char(e.limitQuantity()) + QLatin1Char(e.limitDirection()) +
           fixedNumber(e.limitValue(), volt ? 2 : 1) + (volt ? QStringLiteral(" В") : QStringLiteral(" С"));
}

// Takes a limit fragment off the end of a paragraph's pieces into *limit's limit. False when
// the pieces end in a broken fragment.
bool takeLimitFragment(QVector<QStringRef>* pieces, Event* limit)
{
    const int n = pieces->size();
    if (n < 3 || pieces->at(n - 3) != QStringLiteral("предел"))
        return true;
    const QStringRef sign = pieces->at(n - 2), unit = pieces->at(n - 1);
    const bool volt = sign.startsWith(QLatin1Char('U')) && unit == QStringLiteral("В");
    const bool temp = sign.startsWith(QLatin1Char('T')) && unit == QStringLiteral("С");
    double value = 0.0;
    if (sign.size() < 3 || !(volt || temp) ||
        (sign.at(1) != QLatin1Char('>') && sign.at(1) != QLatin1Char('<')) ||
        !FileNumber::parse(sign.mid(2).toString(), &value))
        return false;
    limit->setLimit(char(sign.at(0).unicode()), char(sign.at(1).unicode()), value);
    pieces->resize(n - 3);
    return true;
}

// A quantity's state read back: the higher of the deviation's and the current limits'; the
// quantity a fragment names is at least a warning, as its value in the file is rounded and
// may sit right on the limit it crossed.
int readState(int deviationState, const AbsoluteLimits& limits, AbsoluteLimits::Limit first, double reading,
              bool named)
{
    const AbsoluteLimits::Limit crossed = limits.crossed(first, reading);
    int state = deviationState;
    if (crossed != AbsoluteLimits::count)
        state =
            std::max(state, AbsoluteLimits::isEmergency(crossed) ? StateCode::Emergency : StateCode::Warning);
    return named ? std::max(state, int(StateCode::Warning)) : state;
}

// One paragraph's text (between <p> and </p>). False when it ends the read-back.
bool parseParagraph(const QStringRef& text, const AlarmThresholds& thresholds, Event* event)
{
    QVector<QStringRef> pieces = text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    Event limit;
    if (!takeLimitFragment(&pieces, &limit))
        return false;
    if (pieces.size() != 19 && pieces.size() != 20)
        return false;
    const int groupNumber = toInt(pieces[1]);
    const int msdIndex = toInt(pieces[3]);
    const int mkpIndex = toInt(pieces[6]) - 1;
    const bool isStarted = isStartWord(pieces[7]);
    const QDateTime time = parseTime(pieces[8], pieces[9]);
    const double voltage = toDouble(pieces[10]);
    const double voltDeviation = toDouble(pieces[12].mid(1));
    const double temperature = toDouble(pieces[14]);
    const double tempDeviation = toDouble(pieces[16].mid(1));
    const bool isConfirmed = isConfirmedWord(pieces[18]);
    if (!time.isValid())
        return false;
    const AbsoluteLimits limits =
        groupNumber >= 1 && groupNumber <= 6 ? thresholds.limitsFor(groupNumber) : AbsoluteLimits();
    const char named = limit.limitQuantity();
    *event = Event(msdIndex, mkpIndex, groupNumber, time, temperature, voltage, tempDeviation, voltDeviation,
                   isStarted, isConfirmed,
                   readState(tempStateOf(tempDeviation, thresholds), limits, AbsoluteLimits::TempHighWarning,
                             temperature, named == 'T'),
                   readState(voltStateOf(voltDeviation, thresholds), limits, AbsoluteLimits::VoltHighWarning,
                             voltage, named == 'U'));
    if (named)
        event->setLimit(named, limit.limitDirection(), limit.limitValue());
    return true;
}

// Communication paragraphs: "<h>Связь </h>МСД 05 нет связи <time> <date>[ Подтверждено]", in
// Modbus mode "Группа 2 (адрес 7)" in place of the module.
const QString kCommHeading = QStringLiteral("<h>Связь </h>");
const QString kCommLostWords = QStringLiteral("нет связи");
const QString kCommRestoredWords = QStringLiteral("связь восстановлена");

QString twoDigitNumber(int value)
{
    return value >= 0 && value <= 9 ? QLatin1Char('0') + QString::number(value) : QString::number(value);
}

QString commToHtml(const Event& e)
{
    QString html = QStringLiteral("<p>") + kCommHeading;
    if (e.modbusAddress() > 0)
        html += QStringLiteral("Группа %1 (адрес %2)").arg(e.groupNumber()).arg(e.modbusAddress());
    else
        html += QStringLiteral("МСД ") + twoDigitNumber(e.msdIndex());
    html += QLatin1Char(' ');
    html += e.kind() == Event::Kind::CommLost ? kCommLostWords : kCommRestoredWords;
    html += QLatin1Char(' ');
    html += QLocale::c().toString(e.time(), kFileTimeFormat);
    if (e.isConfirmed())
        html += QStringLiteral(" Подтверждено");
    html += QStringLiteral("</p>");
    return html;
}

bool parseCommParagraph(const QStringRef& text, Event* event)
{
    QVector<QStringRef> pieces = text.mid(kCommHeading.size()).split(QLatin1Char(' '), Qt::KeepEmptyParts);
    const bool isConfirmed = !pieces.isEmpty() && isConfirmedWord(pieces.last());
    if (isConfirmed)
        pieces.removeLast();
    const bool modbus = pieces.size() == 8;
    if ((pieces.size() != 6 && !modbus) ||
        pieces[0] != (modbus ? QStringLiteral("Группа") : QStringLiteral("МСД")))
        return false;
    const int n = pieces.size();
    const QString words = pieces[n - 4] + QLatin1Char(' ') + pieces[n - 3];
    if (words != kCommLostWords && words != kCommRestoredWords)
        return false;
    const QDateTime time = parseTime(pieces[n - 2], pieces[n - 1]);
    int group = 0, module = 0, address = 0;
    if (modbus) {
        const QStringRef open = pieces[2], close = pieces[3];
        if (open != QStringLiteral("(адрес") || !close.endsWith(QLatin1Char(')')))
            return false;
        group = toInt(pieces[1]);
        address = toInt(close.left(close.size() - 1));
        if (address <= 0)
            return false;
    } else {
        module = toInt(pieces[1]);
    }
    if (!time.isValid())
        return false;
    const auto kind = words == kCommLostWords ? Event::Kind::CommLost : Event::Kind::CommRestored;
    *event = Event::communication(kind, module, group, address, time, isConfirmed);
    return true;
}

} // namespace

QString fixedNumber(double value, int decimals)
{
    // QString::number never consults the locale (always a full stop) and rounds exact
    // halves away from zero, unlike printf.
    return QString::number(value, 'f', decimals);
}

QByteArray createdSkeleton()
{
    return QByteArrayLiteral("<html>\n<body>\n") + kStyleLine + "\n" + closingTags;
}

QByteArray rotatedSkeleton()
{
    return QByteArrayLiteral("<html>\n<body>\n") + closingTags;
}

QString styledHead()
{
    return QStringLiteral("<html>\n<body>\n") + QLatin1String(kStyleLine) + QLatin1Char('\n');
}

QString toHtml(const Event& e)
{
    if (e.kind() != Event::Kind::Alarm)
        return commToHtml(e);
    QString html;
    html.reserve(160);
    html += QStringLiteral("<p><h>Группа ");
    html += QString::number(e.groupNumber());
    html += QStringLiteral(" </h>МСД ");
    if (e.msdIndex() <= 9)
        html += QLatin1Char('0');
    html += QString::number(e.msdIndex());
    html += QStringLiteral(" : МКП ");
    if (e.mkpIndex() <= 8)
        html += QLatin1Char('0');
    html += QString::number(e.mkpIndex() + 1);
    html += e.isStarted() ? QStringLiteral(" Начало ") : QStringLiteral(" Конец ");
    html += QLocale::c().toString(e.time(), kFileTimeFormat);
    html += QLatin1Char(' ');
    html += fixedNumber(e.voltage(), 2);
    html += QStringLiteral(" В (");
    html += fixedNumber(e.voltDeviation(), 2);
    html += QStringLiteral(" В) ");
    html += fixedNumber(e.temperature(), 1);
    html += QStringLiteral(" С (");
    html += fixedNumber(e.tempDeviation(), 1);
    html += QStringLiteral(" С) ");
    html += e.isConfirmed() ? QStringLiteral("Подтверждено") : QStringLiteral("Не подтверждено");
    html += limitFragment(e);
    html += QStringLiteral("</p>");
    return html;
}

QByteArray encode(const QString& text)
{
    return codec() ? codec()->fromUnicode(text) : text.toLatin1();
}

QString decode(const QByteArray& bytes)
{
    return codec() ? codec()->toUnicode(bytes) : QString::fromLatin1(bytes);
}

int voltStateOf(double dU, const AlarmThresholds& t)
{
    if (dU > t.voltHighEmergency || -dU > t.voltLowEmergency)
        return StateCode::Emergency;
    if (dU > t.voltHighWarning || -dU > t.voltLowWarning)
        return StateCode::Warning;
    return StateCode::Normal;
}

int tempStateOf(double dT, const AlarmThresholds& t)
{
    const double magnitude = std::fabs(dT);
    if (magnitude > t.tempEmergency)
        return StateCode::Emergency;
    if (magnitude > t.tempWarning)
        return StateCode::Warning;
    return StateCode::Normal;
}

ReadBack readBack(const QByteArray& file, const AlarmThresholds& thresholds, int keepNewest)
{
    ReadBack result;
    const QString text = decode(file);
    const QLatin1String open("<p>"), close("</p>");
    int lineStart = 0;
    while (lineStart < text.size()) {
        int lineEnd = text.indexOf(QLatin1Char('\n'), lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        const QStringRef line = text.midRef(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        const int begin = line.indexOf(open);
        if (begin < 0)
            continue;
        const int end = line.indexOf(close);
        if (end < 0) {
            result.complete = false;
            break;
        }
        // A "</p>" before the "<p>" leaves the rest of the line, which then has the wrong shape.
        const int from = begin + open.size();
        const QStringRef paragraph = end >= from ? line.mid(from, end - from) : line.mid(from);
        Event event;
        const bool parsed = paragraph.startsWith(kCommHeading)
                                ? parseCommParagraph(paragraph, &event)
                                : parseParagraph(paragraph, thresholds, &event);
        if (!parsed) {
            result.complete = false;
            break;
        }
        ++result.total;
        if (keepNewest <= 0)
            continue;
        if (result.events.size() >= keepNewest)
            result.events.removeFirst();
        result.events.append(event);
    }
    return result;
}

} // namespace JournalFormat
