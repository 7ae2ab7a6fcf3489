// The native port on a real pty, and the worker's sweeps over it against 16 modules in a thread.
#include "../common/PtyLine.h"
#include "AnswerFrame.h"
#include "link/ComPort.h"
#include "link/NativeFrame.h"
#include "link/WorkerObject.h"

#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
// Answers of module m other than good (0): with a bad checksum, those of module m + 1, or none (3).
const int BadChecksum = 1, WrongNumber = 2;

// The near end is reached through a link to the pair.
struct Peer
{
    std::atomic<int> behaviour[16] = {};
    std::atomic<int> sweep{0};                  // added to channel 0 (× 1000), so kept readings show
    std::atomic<int> pieceSize{32}, pauseMs{0}; // answers go out in pieces this far apart
    PtyLine pty;
    int master = pty.farEnd(), slave = ::open(qPrintable(pty.path()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::atomic<bool> stopping{false};
    std::thread worker;
    QTemporaryDir dir;

    Peer()
    {
        termios t{}; // the near end held open: the far end never reads a hang-up while the port is closed
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        QFile::link(pty.path(), dir.filePath("line"));
        worker = std::thread(&Peer::run, this);
    }
    ~Peer()
    {
        stopping = true;
        if (worker.joinable())
            worker.join();
        ::close(slave);
    }
    QString linkPath() const { return dir.filePath("line"); }
    void run()
    {
        QByteArray window;
        for (char byte; !stopping;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0 || ::read(master, &byte, 1) != 1)
                continue;
            window = (window + byte).right(3);
            const int m = NativeFrame::requestedModule(reinterpret_cast<const std::uint8_t*>(window.data()));
            if (window.size() < 3 || m < 0)
                continue;
            window.clear();
            const int b = behaviour[m];
            QByteArray answer = typicalAnswer(b == WrongNumber ? (m + 1) % 16 : m, 1000 * sweep);
            answer[31] = static_cast<char>(answer[31] + (b == BadChecksum ? 3 : 0));
            for (int at = 0; b <= WrongNumber && at < 32; at += pieceSize) {
                std::this_thread::sleep_for(std::chrono::milliseconds(at ? pauseMs.load() : 0));
                if (::write(master, answer.data() + at, size_t(qMin<int>(pieceSize, 32 - at))) < 0)
                    break;
            }
        }
    }
};

struct Rig
{
    Peer peer;
    ComPort port{peer.linkPath(), 19200};
    WorkerObject worker;
    QSignalSpy arrived{&worker, &WorkerObject::dataArrived};
    QSignalSpy errors{&worker, &WorkerObject::comErrorOccured};
    Rig() { worker.setPort(&port); }
    // One sweep, run here: the spies see its signals at once.
    DevicesGuiData sweep()
    {
        worker.timeoutHandler();
        ++peer.sweep;
        return arrived.isEmpty() ? DevicesGuiData() : arrived.takeLast().at(0).value<DevicesGuiData>();
    }
};
} // namespace

class TestNativePty : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<DevicesGuiData>(); }
    void lateHalfLeftOut()
    {
        // Whatever comes after the time-out is not part of this read.
        Peer peer;
        peer.pieceSize = 16;
        peer.pauseMs = 250;
        ComPort port(peer.linkPath(), 19200);
        QVERIFY(port.open() && port.write(NativeFrame::request(2).data(), 3));
        std::uint8_t buffer[32] = {};
        std::uint32_t got = 99;
        QVERIFY(port.read(buffer, 32, got));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), int(got)), typicalAnswer(2).left(16));
    }
    void keepRule()
    {
        // Module 3's answers (good, bad checksum, another module's, silent), then whether its entry is valid:
        // four bad frames in a row keep the last good one; another's counts none, kept while the count runs.
        const QString answers = "gwgcswcccgc", valid = "10111111011", answered = "10100000010";
        Rig rig;
        rig.peer.pieceSize = 8; // a read gathers an answer that comes in pieces
        rig.peer.pauseMs = 1;
        int lastGood = 0;
        for (int s = 0; s < answers.size(); ++s) {
            rig.peer.behaviour[3] = int(QString("gcws").indexOf(answers[s]));
            const DevicesGuiData data = rig.sweep();
            lastGood = answers[s] == 'g' ? s : lastGood;
            const QByteArray at = "sweep " + QByteArray::number(s);
            QVERIFY2(data.msd[3].valid == (valid[s] == '1'), at);
            // A kept entry is no answer: the loss of communication is counted from these.
            QVERIFY2(data.answered[3] == (answered[s] == '1') && data.answered[12] && !data.lineLost, at);
            QVERIFY2(!data.msd[3].valid || data.msd[3].channel[0].voltage == (2430 + 1000 * lastGood) / 200.0,
                     at);
            QCOMPARE(data.msd[3].msd_number, 3u);
            QCOMPARE(data.msd[12].channel[0].voltage, (2520 + 1000 * s) / 200.0);
        }
        QCOMPARE(rig.errors.count(), answers.count('w'));
        for (const QVariantList& error : rig.errors)
            QCOMPARE(error, (QVariantList{"CS msd_number = address, msd 3", 0xFD000004u}));
        // A line that cannot be opened again: nobody answered, and the sweep says why.
        QFile::remove(rig.peer.linkPath());
        rig.port.close(true);
        const DevicesGuiData gone = rig.sweep();
        QVERIFY(gone.lineLost && !gone.answered[12]);
    }
};

QTEST_GUILESS_MAIN(TestNativePty)
#include "tst_native_pty.moc"
