#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// The far end of a pseudo-terminal pair, run in a thread of its own: it recognises native
// requests by their bytes and answers with whatever the responder returns. The near end is
// reached through a symbolic link, which reopen() points at a fresh pair.
class PtyPeer
{
public:
    // Answer bytes for a request to module (0..15); empty means silence.
    using Responder = std::function<QByteArray(int module)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool isReady() const { return master >= 0; }
    QString linkPath() const { return dir.filePath(QStringLiteral("line")); }
    QString slavePath() const { return slave; }
    // The peer's own descriptor of the near end, for looking at the line's settings.
    int slaveDescriptor() const { return slaveFd; }

    void setResponder(Responder r);
    // Answers are written in pieces of this many bytes with a pause between them.
    void setChunking(int bytes, int pauseMs);
    // The line vanishes when request number n (counted from 1) arrives, after answering it
    // when answerFirst is set.
    void vanishAtRequest(int n, bool answerFirst);
    // A new pair behind the same link.
    bool reopen();
    void vanishNow();
    bool hasVanished() const { return vanished; }
    void send(const QByteArray& bytes);

    QByteArray received();
    int requestCount() const { return requests; }
    void resetCounters();

private:
    bool openPair();
    void closePair();
    void stopThread();
    void run();
    void answer(int module);

    QTemporaryDir dir;
    int master = -1;
    int slaveFd = -1;
    QString slave;
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    Responder responder;
    int chunkBytes = 0;
    int chunkPauseMs = 0;
    int vanishAt = 0;
    bool answerBeforeVanish = false;
    QByteArray log;
    QByteArray window;
    std::atomic<int> requests{0};
    std::atomic<bool> vanished{false};
};
