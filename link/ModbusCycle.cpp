#include "link/ModbusCycle.h"

#include <algorithm>

namespace {
// No answer: the same request again after this long; also the pause between two devices.
constexpr int kAnswerTimeoutMs = 400;
// A rejected answer: the same request again after this long.
constexpr int kRejectedAnswerMs = 1000;
// A good answer: the next request (or the end of the turn) at once.
constexpr int kNextStepMs = 1;
// Sends of one request without an accepted answer before its device counts as silent.
constexpr int kSendsBeforeSilent = 3;
// Slack on top of the spread of a repeated request's sends, for the device's own jitter.
constexpr int kOwedAnswerSlackMs = 50;

struct StageRequest
{
    quint16 start;
    quint16 count;
};
// Voltages of channels 0..124, then 125..127 with the temperatures of 0..121, then the rest.
constexpr StageRequest kStageRequests[3] = {{3, 125}, {128, 125}, {253, 9}};
constexpr int kTableSize = 125 + 125 + 9;
} // namespace

void ModbusCycle::start()
{
    modbusMasterInit(&state);
    registers = QVector<quint16>(kTableSize, 0);
    lastSentStage = 0;
    stage = 0;
    repeatCount = 0;
    registerFill = 0;
    answer.clear();
    answerAwaited = false;
    address = -1;
    device = 1;
}

ModbusCycleStep ModbusCycle::timerFired(qint64 now, const QVector<ModbusPollEntry>& list, bool lineOpen)
{
    if (stage > 2)
        return endOfDevice(ModbusCycleStep::TurnDone);
    ModbusCycleStep step;
    step.waitMs = kAnswerTimeoutMs;
    step.turnStarts = stage == 0;
    if (stage == 0 && !takeTurnDevice(list)) {
        registerFill = 0;
        repeatCount = 0;
        answerAwaited = false;
        step.kind = ModbusCycleStep::Paused;
        return step;
    }
    // The request went out three times and none of its answers was accepted.
    if (repeatCount >= kSendsBeforeSilent) {
        ModbusCycleStep silent = endOfDevice(ModbusCycleStep::DeviceSilent);
        silent.turnStarts = step.turnStarts;
        return silent;
    }
    // A send that timed out may still be answered late; a rejected one was answered.
    if (repeatCount == 0)
        firstOwedSendAt = -1;
    else if (answerAwaited && firstOwedSendAt < 0)
        firstOwedSendAt = lastSendAt;
    // Whatever came before this request (a late or partial answer, line noise) is not its answer.
    answer.clear();
    answerAwaited = false;
    step.kind = ModbusCycleStep::Send;
    const StageRequest& request = kStageRequests[stage];
    // An address no device can have is refused by the codec; sending the request left in the
    // record instead would ask another device. Nothing goes out, the time-out follows.
    if (modbusBuildReadRequest(&state, ModbusReadHoldingRegisters, uint8_t(address & 0xFF), request.start,
                               request.count) == MbOk) {
        step.request = QByteArray(reinterpret_cast<const char*>(state.request), state.requestLength);
        answerAwaited = lineOpen;
    }
    lastSendAt = now;
    ++repeatCount;
    lastSentStage = stage;
    return step;
}

bool ModbusCycle::takeTurnDevice(const QVector<ModbusPollEntry>& list)
{
    if (list.isEmpty())
        return false;
    const ModbusPollEntry& entry = list.at(modbusPollIndexFrom(list, device));
    if (entry.group != device || entry.address != address) {
        device = entry.group;
        address = entry.address;
        repeatCount = 0;
    }
    registerFill = 0;
    return true;
}

ModbusCycleStep ModbusCycle::endOfDevice(ModbusCycleStep::Kind kind)
{
    ModbusCycleStep step;
    step.kind = kind;
    step.waitMs = kAnswerTimeoutMs;
    step.group = device;
    step.address = address;
    stage = 0;
    repeatCount = 0;
    // The next device's table starts from its first register.
    registerFill = 0;
    answerAwaited = false;
    answer.clear();
    // The next group by number; the next turn skips to the next one that holds batteries.
    device = device % 6 + 1;
    address = -1;
    return step;
}

ModbusCycleStep ModbusCycle::bytesArrived(const QByteArray& bytes)
{
    ModbusCycleStep step;
    // Bytes with no request waiting for them (after a time-out, a rejection or an accepted
    // answer, or while the turn is being finished) belong to no request and are dropped.
    if (!answerAwaited || lastSentStage != stage)
        return step;
    answer.append(bytes);
    // The answer begins where the bytes can begin it; what comes before is not part of it: the
    // tail of an earlier frame, line noise, the request handed back by an RS-485 adapter
    // without echo suppression, another device's frame.
    int skip = 0;
    while (skip < answer.size() && !canStartAnswer(answer.constData() + skip, answer.size() - skip))
        ++skip;
    answer.remove(0, skip);

    const int expected = state.expectedAnswerLength;
    if (answer.size() < expected)
        return step;
    answerAwaited = false;
    state.answer = reinterpret_cast<const uint8_t*>(answer.constData());
    state.answerLength = uint8_t(expected);
    const ModbusResult result = modbusParseAnswer(&state);
    state.answer = nullptr;
    answer.clear();
    if (result != MbOk) {
        step.waitMs = kRejectedAnswerMs;
        return step;
    }

    const int count = std::min<int>(state.dataCount, registers.size() - registerFill);
    std::copy(state.registers, state.registers + count, registers.begin() + registerFill);
    registerFill += count;
    // When a send that timed out is the one answered now, the answers to the later sends of
    // the same request are still on their way and must not meet the next request.
    step.waitMs = firstOwedSendAt < 0 ? kNextStepMs : int(lastSendAt - firstOwedSendAt) + kOwedAnswerSlackMs;
    repeatCount = 0;
    firstOwedSendAt = -1;
    if (stage == 2) {
        step.kind = ModbusCycleStep::TableComplete;
        step.group = device;
        step.address = address;
        registerFill = 0;
    }
    ++stage;
    return step;
}

// Whether `size` bytes can be the start of an answer to the request in the record: the
// request's slave address, then its function with the byte count it asks for, or the
// exception function.
bool ModbusCycle::canStartAnswer(const char* bytes, int size) const
{
    const uint8_t slave = state.request[0];
    const uint8_t function = state.request[1];
    const int byteCount = 2 * (state.request[4] << 8 | state.request[5]);
    if (size < 1 || uint8_t(bytes[0]) != slave)
        return false;
    if (size < 2 || uint8_t(bytes[1]) == (function | 0x80))
        return true;
    if (uint8_t(bytes[1]) != function)
        return false;
    return size < 3 || uint8_t(bytes[2]) == byteCount;
}
