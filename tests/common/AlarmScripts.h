#pragma once

#include "link/DevicesGuiData.h"
#include <QtTest>
#include <algorithm>
#include <cstring>

// "v0=14 t3=33 x1 k2 X": battery 0 at 14 V, 3 at 33 °C, module 1 silent, 2 unanswered but kept, the
// line lost; the rest at 12 V, 25 °C. Above the other seven +1.4 V / +5 °C warn, +2 V / +8 °C alarm.
inline DevicesGuiData sweepFrom(const QString& script)
{
    DevicesGuiData data;
    data.lineLost = script.contains('X');
    for (MsdData& m : data.msd) {
        m.valid = data.answered[m.msd_number] = !data.lineLost;
        std::fill(std::begin(m.channel), std::end(m.channel), ChannelReading{12.0, 25.0});
    }
    for (const QString& token : script.split(' ', Qt::SkipEmptyParts)) {
        const int n = token.mid(1, token.indexOf('=') - 1).toInt();
        ChannelReading& c = data.msd[n / 8].channel[n % 8];
        if (token.startsWith('x') || token.startsWith('k'))
            data.answered[n] = false, data.msd[n].valid = token.startsWith('k');
        else if (token != "X")
            (token.startsWith('v') ? c.voltage : c.temperature) =
                token.mid(token.indexOf('=') + 1).toDouble();
    }
    return data;
}

// The scripts and what they raise: the window's rows, or all the decisions alone can run (no stop).
inline void alarmScriptRows(bool window)
{
    // sounds: W, C on, P needs a player, w through the window too, 1 lost at one silent sweep. steps:
    // sweeps by "|", C confirms, R resets, O stops. expected: J<battery><s|e>[c] journal event started or
    // ended [confirmed]; W, C, S sounds; L<module>[c], B<module> communication lost [confirmed], back.
    QTest::addColumn<QString>("sounds");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("expected");
    const auto row = [window](const char* name, const char* sounds, const char* steps, const char* expected) {
        if (window ? strchr(sounds, 'w') != nullptr : strchr(steps, 'O') == nullptr)
            QTest::newRow(name) << QString(sounds) << QString(steps) << QString(expected);
    };
    row("warning then emergency", "WCw", "v0=13.4|v0=14", "J0s W J0s C");
    row("group 0 stays silent", "WC", "v40=20 t41=60|v40=20", "");
    row("emergency sound off", "W", "v0=14", "J0s");
    row("warning sound off", "C", "v0=13.4", "J0s");
    row("voltage emergency keeps priority over a new warning", "WC", "v0=14|v0=14 t8=30", "J0s C C J8s");
    row("temperature-only emergency does not block a warning", "WC", "t0=33|t0=33 v8=13.4", "J0s C C J8s W");
    row("voltage before temperature", "WC", "v0=14 t0=33", "J0s J0s C");
    row("confirm journals once, stops twice", "WCw", "v0=14|C|C", "J0s C J0sc S S");
    row("confirmed emergency stays quiet", "WC", "v0=14|C|v0=14", "J0s C J0sc S");
    row("a voltage alarm confirmed sweeps later journals its start", "WC", "v0=14|v0=14|C", "J0s C C J0sc S");
    row("a temperature alarm confirmed sweeps later journals its start", "WC", "t0=33|t0=33|C",
        "J0s C C J0sc S");
    row("2 to 2 after confirmation is quiet, then 3", "WC", "v0=13.4|C|v0=13.4|v0=14", "J0s W J0sc S J0s C");
    row("silent module raises nothing while silent", "WC", "v0=13.4|x0|x0|v0=13.4", "J0s W W");
    row("reset then the same warning journals again", "WC", "v0=13.4|R|v0=13.4", "J0s W J0s W");
    row("stopped, sweeps are not taken in", "WCw", "O|v0=14", "");
    row("warning ends and the sound stops", "WCPw", "v0=13.4|", "J0s W J0e S");
    row("emergency falls to warning", "WC", "v0=14|v0=13.4", "J0s C J0e W");
    row("lost at the third silent sweep; on return the alarm begins again", "WCPw", "v0=14|x0|x0|x0|v0=14",
        "J0s C L0 W B0 S J0s C");
    row("an answer starts the count again", "WC", "x0|x0|v0=12|x0|x0", "");
    row("one silent sweep is enough when so set", "WC1", "x0", "L0 W");
    row("lost again after a return: unconfirmed", "WC1w", "x1|C|v0=12|x1", "L1 W L1c S B1 L1 W");
    row("kept entries are no answers", "WCw", "v0=13.4|k0 v0=13.4|k0 v0=13.4|k0 v0=13.4", "J0s W W W L0 W");
    row("an ungrouped module is never lost", "WCw", "x5|x5|x5|X", "L0 W L1 W");
    row("loss confirmed once, then quiet", "WC", "x1|x1|x1|C|x1|C", "L1 W L1c S S");
    row("loss without the warning sound", "C", "x0|x0|x0", "L0");
    row("loss yields to an unconfirmed emergency", "WC", "v8=14|x0 v8=14|x0 v8=14|x0 v8=14",
        "J8s C C C L0 C");
}
