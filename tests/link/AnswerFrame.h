#pragma once

#include <QByteArray>
#include <functional>

// A module's answer as the modules send it: channel j reads raw(j) and half(j) half degrees.
inline QByteArray answerFrame(int module, const std::function<int(int)>& raw,
                              const std::function<int(int)>& half, int signs = 0, int divisorIndex = 0)
{
    QByteArray b(32, '\0');
    b[0] = 0x55;
    for (int j = 0; j < 8; ++j)
        b[1 + 3 * j] = char(raw(j) >> 8), b[2 + 3 * j] = char(raw(j)), b[3 + 3 * j] = char(half(j));
    b[25] = char(signs), b[29] = char(divisorIndex), b[30] = char(module);
    for (int i = 0; i < 31; ++i)
        b[31] = char(b[31] + b[i]);
    return b;
}

// Channel j of module m reads 2400 + 10 m + j raw (12.00 V and up at divisor 200), 40 + j half degrees.
inline QByteArray typicalAnswer(int m, int addedToChannel0 = 0)
{
    return answerFrame(
        m, [=](int j) { return 2400 + 10 * m + j + (j ? 0 : addedToChannel0); },
        [](int j) { return 40 + j; });
}
