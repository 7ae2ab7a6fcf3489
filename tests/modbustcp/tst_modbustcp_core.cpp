// The Modbus TCP server's own parts: the register image, the answers, the frames and the allow list.
#include "config/ModbusTcpAllowList.h"
#include "core/RoomSnapshot.h"
#include "modbustcp/ModbusTcpFrames.h"
#include <QtTest>
using namespace ModbusTcpFrames;
class TestModbusTcpCore : public QObject
{
    Q_OBJECT
    const ModbusTcpImage image = [] { // batteries 0..3 and group 1 chosen; the rest without data
        RoomSnapshot s;
        s.batteries[0] = {13.456, 25.04, 1, 0, 0, 1, true, false, false, ""};
        s.batteries[1] = {655.35, -12.3, 3, 0, 0, 0, false, false, true, "U>"};
        s.batteries[2] = {13, 20, 0, 0, 0, 6, false, true, false, ""}; // no data wins
        s.batteries[3] = {-1, 5000, 2, 0, 0, 7, false, false, false, ""};
        s.groups[0] = {12.5, 20.06, 0, 0}, s.sequence = 70000, s.summary = {2, 1, 3, 4, true, true};
        return ModbusTcpImage::from(s);
    }();
    static QByteArray frames(const QByteArray& chunks) // chunks fed in turn → what each take says
    {
        QByteArray buffer, said;
        Frame f;
        for (const QByteArray& chunk : chunks.split('+')) {
            Take t;
            for (buffer += QByteArray::fromHex(chunk); (t = takeFrame(buffer, &f)) == Take::Frame;)
                said += 'F' + QByteArray::number(f.transaction) + ':' + QByteArray::number(f.unit) + ',';
            said += t == Take::NeedMore ? "N," : "G,";
        }
        return said.chopped(1);
    }
    QByteArray pdu(const QByteArray& hex) const // the response PDU in hex
    {
        const QByteArray r = QByteArray::fromHex(hex);
        const QModbusRequest q(QModbusPdu::FunctionCode(quint8(r[0])), r.mid(1));
        return respond({7, 9, q}, answer(q, image)).mid(7).toHex();
    }
    static QByteArray allowed(const QByteArray& list, const QByteArray& client)
    {
        ModbusTcpAllowList allow;
        QString why;
        if (!allow.parse(QString::fromUtf8(list), &why))
            return why.section(' ', 0, 0).toUtf8();
        return allow.admits(QHostAddress(QString(client))) ? "yes" : "no";
    }
private slots:
    // The row's first word says what is tried: the image "register=value"; an answer "request PDU=response
    // PDU" in hex; frames from chunks arriving "+" → Frame transaction:unit, NeedMore, Garbage; the allow
    // list after "allow": "client=yes|no", or any client = the entry refused.
    void cases_data()
    {
        QTest::addColumn<QByteArray>("cases");
        const auto row = [](const char* tag, const char* cases) { QTest::newRow(tag) << QByteArray(cases); };
        row("allow ", "10.0.0.1=yes ::1=yes"), row("allow 10.1.0.0/16,,::1", "-=«(пусто)»");
        row("image U, t", "0=1346 1=65534 2=65535 3=0 128=250 129=65413 130=32768 131=32767");
        row("image state, flags, mode", "256=1 257=3 258=0 384=3 385=12 386=2 387=0 528=4464 529=1 530=1");
        row("image groups, counts", "512=1250 518=201 513=65535 523=32768 524=1 525=2 526=3 527=4");
        row("answer map's end", "0402110002=040400010001 0302130001=8302 0402120002=8402 0200fa0007=8202");
        row("answer counts", "030000007e=8303 0400000000=8403 03000001=8303 02000007d1=8203");
        row("answer discrete", "020000000a=02020a00 0200800008=020102 0200fa0006=020100");
        row("answer writes", "050000ff00=8501 0600000001=8601 100000000102ffff=9001 160000ffff0000=9601");
        row("answer others", "1700000001000000010200ff=9701 0100000001=8101 830000000a=8301 07=8701");
        row("frames whole, split", "000700000006010300000001=F7:1,N 00070000000601+0300000001=N,F7:1,N");
        row("frames two at once", "000700000006010300000001000800000002ff07=F7:1,F8:255,N 000700000006=N");
        row("frames lengths", "00070000000101=G 00070000ffff01=G 0007000000ff01=G 0007000000fe01=N");
        row("frames protocol 1", "000700010006010300000001=G 0007000000060103=N");
        row("allow 10.1.0.0/33", "-=«10.1.0.0/33»"), row("allow a.b", "-=«a.b»"), row("allow 1/", "-=«1/»");
        row("allow 10.1", "-=«10.1»");
        row("allow 10.1.0.0/16", "10.1.2.3=yes ::ffff:10.1.2.3=yes ::ffff:10.2.0.1=no 10.2.0.1=no");
        row("allow  192.168.5.7 , fd00::/8", "192.168.5.7=yes 192.168.5.8=no fd00::1=yes fe80::1=no");
    }
    void cases()
    {
        QFETCH(QByteArray, cases);
        const QByteArray what = QTest::currentDataTag();
        QByteArrayList said;
        for (const QByteArray& c : cases.split(' ')) {
            const QByteArray in = c.split('=')[0];
            said << in + '=' +
                        (what.startsWith("image")    ? QByteArray::number(image.registers[in.toUInt()])
                         : what.startsWith("answer") ? pdu(in)
                         : what.startsWith("frames") ? frames(in)
                                                     : allowed(what.mid(6), in));
        }
        QCOMPARE(said.join(' '), cases);
    }
};

QTEST_MAIN(TestModbusTcpCore)
#include "tst_modbustcp_core.moc"
