// The Modbus TCP server's own parts: the register image, the answers, the frames and the allow list.
#include "config/ModbusTcpAllowList.h"
#include "core/RoomSnapshot.h"
#include "modbustcp/ModbusTcpFrames.h"
#include <QtTest>
using namespace ModbusTcpFrames;
class TestModbusTcpCore : public QObject
{
    Q_OBJECT
    ModbusTcpImage image; // batteries 0..3 and group 1 chosen; the rest without data
    static QByteArray frames(const QByteArray& chunks) // chunks fed in turn → what each take says
    {
        QByteArray buffer, said;
        for (const QByteArray& chunk : chunks.split('+')) {
            buffer += QByteArray::fromHex(chunk);
            for (Take t = Take::Frame; t == Take::Frame;) {
                Frame f;
                const QByteArray before = buffer;
                t = takeFrame(buffer, &f);
                said += t == Take::Frame
                            ? 'F' + QByteArray::number(f.transaction) + ':' + QByteArray::number(f.unit)
                            : QByteArray(1, "FNG"[int(t)]);
                said += buffer == before || t == Take::Frame ? "," : " eaten,";
            }
        }
        return said.chopped(1);
    }
    QByteArray pdu(const QByteArray& request, const QByteArray& expected) const // hex, trimmed as expected
    {
        const QByteArray r = QByteArray::fromHex(request);
        const Frame f{7, 9, QModbusRequest(QModbusPdu::FunctionCode(quint8(r[0])), r.mid(1))};
        const QByteArray frame = respond(f, answer(f.request, image)).toHex();
        const QByteArray length = QByteArray::number(frame.size() / 2 - 6, 16).rightJustified(4, '0');
        if (!frame.startsWith("00070000" + length + "09"))
            return "header " + frame.left(14);
        const int head = expected.indexOf('.'); // first bytes "." last bytes
        return head < 0 ? frame.mid(14) : frame.mid(14, head) + '.' + frame.right(expected.size() - head - 1);
    }
    QByteArray actual(const QByteArray& what, const QByteArray& in, const QByteArray& expected) const
    {
        ModbusTcpAllowList allow;
        QString why;
        if (what == "image" && in.startsWith('d'))
            return QByteArray::number(int(image.discrete[in.mid(1).toUInt()]));
        if (what == "image")
            return QByteArray::number(image.registers[in.toUInt()]);
        if (what == "answer")
            return pdu(in, expected);
        if (what == "frames")
            return frames(in);
        if (!allow.parse(QString::fromUtf8(what.mid(6)), &why))
            return why.section(' ', 0, 0).toUtf8();
        return allow.admits(QHostAddress(QString(in))) ? "yes" : "no";
    }
private slots:
    void initTestCase()
    {
        RoomSnapshot s;
        auto& b = s.batteries;
        b[0].voltage = 13.456, b[0].temperature = 25.04, b[0].state = 1, b[0].group = 1,
        b[0].confirmed = true;
        b[1].voltage = 655.35, b[1].temperature = -12.3, b[1].state = 3, b[1].commLost = true,
        b[1].limit = "U>";
        b[2].voltage = 13, b[2].temperature = 20, b[2].group = 6; // no data wins
        b[3].voltage = -1, b[3].temperature = 5000, b[3].state = 2, b[3].group = 7;
        b[0].noData = b[1].noData = b[3].noData = false, s.sequence = 70000,
        s.summary = {2, 1, 3, 4, true, true};
        s.groups[0].meanVoltage = 12.5, s.groups[0].meanTemperature = 20.06, image = ModbusTcpImage::from(s);
    }
    void cases_data() // what is tried, and "input=expected" cases
    {
        QTest::addColumn<QByteArray>("what");
        QTest::addColumn<QByteArray>("cases");
        const auto row = [](const char* name, const char* what, const char* cases) {
            QTest::newRow(name) << QByteArray(what) << QByteArray(cases);
        }; // the image: "register=value", "d<discrete input>=value"
        row("voltages", "image", "0=1346 1=65534 2=65535 3=0 127=65535");
        row("temperatures", "image", "128=250 129=65413 130=32768 131=32767");
        row("states and flags", "image", "256=1 257=3 258=0 384=3 385=12 386=2 387=0");
        row("groups, summary", "image", "512=1250 518=201 513=65535 523=32768 524=1 525=2 526=3 527=4");
        row("heartbeat, polling, mode", "image", "528=4464 529=1 530=1");
        row("discrete", "image", "d0=0 d1=1 d3=1 d129=1 d131=0 d255=0");
        // "request PDU=response PDU" in hex
        row("register edges", "answer",
            "030000007d=03fa0542fffe.ffff 040196007d=04fa0000.0001 0302120001=03020001");
        row("beyond the map", "answer", "0402130001=8402 0302120002=8302 0200fa0007=8202");
        row("counts", "answer", "030000007e=8303 0400000000=8403 03000001=8303 02000007d1=8203");
        row("discrete", "answer", "020000000a=02020a00 0200800008=020102 0200fa0006=020100");
        row("writes", "answer", "050000ff00=8501 0600000001=8601 0f0000000101ff=8f01 100000000102ffff=9001");
        row("more writes", "answer", "160000ffff0000=9601 1700000001000000010200ff=9701");
        row("other functions", "answer", "0100000001=8101 830000000a=8301 07=8701");
        // bytes arriving in chunks "+" → Frame transaction:unit, NeedMore, Garbage (the buffer left)
        row("whole, split", "frames", "000700000006010300000001=F7:1,N 00070000000601+0300000001=N,F7:1,N");
        row("two at once", "frames", "000700000006010300000001000800000002ff07=F7:1,F8:255,N 000700000006=N");
        row("lengths", "frames", "00070000000101=G 00070000ffff01=G 0007000000ff01=G 0007000000fe01=N");
        row("protocol 1", "frames", "000700010006010300000001=G 0007000000060103=N");
        // the list after "allow": "client=yes|no", or any client = the entry refused
        row("empty", "allow ", "10.0.0.1=yes ::1=yes");
        row("v4 range", "allow 10.1.0.0/16",
            "10.1.2.3=yes ::ffff:10.1.2.3=yes ::ffff:10.2.0.1=no 10.2.0.1=no");
        row("mixed", "allow  192.168.5.7 , fd00::/8",
            "192.168.5.7=yes 192.168.5.8=no fd00::1=yes fe80::1=no");
        row("prefix 33", "allow 10.1.0.0/33", "-=«10.1.0.0/33»"), row("name", "allow a.b", "-=«a.b»");
        row("empty entry", "allow 10.1.0.0/16,,::1", "-=«(пусто)»"),
            row("no prefix", "allow 10.1.0.0/", "-=«10.1.0.0/»");
    }
    void cases()
    {
        QFETCH(QByteArray, what);
        QFETCH(QByteArray, cases);
        QByteArrayList said;
        for (const QByteArray& c : cases.split(' ')) {
            const QByteArray in = c.split('=')[0], expected = c.split('=')[1];
            said << in + '=' + actual(what, in, expected);
        }
        QCOMPARE(said.join(' '), cases);
    }
};

QTEST_MAIN(TestModbusTcpCore)
#include "tst_modbustcp_core.moc"
