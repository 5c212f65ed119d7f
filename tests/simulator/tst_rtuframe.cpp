// Modbus RTU pieces of the simulator: the CRC, request lengths, cutting the
// byte stream into frames, and the wire time of an exchange.
#include <QtTest>

#include <chrono>

#include "frameassembler.h"
#include "rtuframe.h"
#include "testenv.h"
#include "wiretime.h"

using namespace qr7215sim;
using namespace std::chrono;

namespace {

std::vector<uint8_t> bytes(const QByteArray& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex);
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

std::vector<uint8_t> withCrc(const QByteArray& hex)
{
    std::vector<uint8_t> f = bytes(hex);
    appendCrc(f);
    return f;
}

QByteArray hexOf(const std::vector<uint8_t>& f)
{
    return QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())).toHex();
}

} // namespace

class tst_rtuFrame : public QObject
{
    Q_OBJECT

private slots:
    void crcOfKnownFrames_data();
    void crcOfKnownFrames();
    void crcRejectsDamage();
    void requestLengths_data();
    void requestLengths();
    void assembler_data();
    void assembler();
    void wireTimes_data();
    void wireTimes();
};

void tst_rtuFrame::crcOfKnownFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("crc");
    QTest::newRow("01 03 00 00 00 0A") << QByteArray("01030000000a") << QByteArray("c5cd");
    QTest::newRow("01 03 00 28 00 04") << QByteArray("010300280004") << QByteArray("c401");
    QTest::newRow("11 03 00 6B 00 03") << QByteArray("1103006b0003") << QByteArray("7687");
    QTest::newRow("01 06 00 01 00 03") << QByteArray("010600010003") << QByteArray("980b");
}

void tst_rtuFrame::crcOfKnownFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, crc);
    std::vector<uint8_t> f = bytes(frame);
    appendCrc(f);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(f.data()) + f.size() - 2, 2).toHex(), crc);
    QVERIFY(crcValid(f));
}

void tst_rtuFrame::crcRejectsDamage()
{
    std::vector<uint8_t> f = withCrc("01030000000a");
    for (size_t i = 0; i < f.size(); ++i) {
        std::vector<uint8_t> damaged = f;
        damaged[i] ^= 0x01;
        QVERIFY2(!crcValid(damaged), qPrintable(QStringLiteral("byte %1").arg(i)));
    }
    QVERIFY(!crcValid(bytes("01c5")));  // too short to hold a CRC
}

void tst_rtuFrame::requestLengths_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<qulonglong>("length");
    QTest::newRow("one byte: cannot tell") << QByteArray("01") << qulonglong(0);
    QTest::newRow("read holding") << QByteArray("0103") << qulonglong(8);
    QTest::newRow("write single") << QByteArray("0106") << qulonglong(8);
    QTest::newRow("write several, no byte count yet") << QByteArray("011000040003") << qulonglong(0);
    QTest::newRow("write several, 3 registers") << QByteArray("01100004000306") << qulonglong(15);
    QTest::newRow("unknown function") << QByteArray("0111") << qulonglong(kLengthBySilence);
}

void tst_rtuFrame::requestLengths()
{
    QFETCH(QByteArray, start);
    QFETCH(qulonglong, length);
    const std::vector<uint8_t> b = bytes(start);
    QCOMPARE(qulonglong(requestLength(b.data(), b.size())), length);
}

void tst_rtuFrame::assembler_data()
{
    // Steps: "feed MS HEX" gives bytes at MS, "take MS HEX,HEX" or "take MS -"
    // expects the frames complete at MS (15 ms of silence end a frame).
    QTest::addColumn<QStringList>("steps");
    const QString read = QString::fromLatin1(hexOf(withCrc("010300100014")));
    const QString write = QString::fromLatin1(hexOf(withCrc("01100004000204000a0014")));
    const QString odd = QString::fromLatin1(hexOf(withCrc("012b0e0100")));
    QTest::newRow("two frames in one read, cut by length")
        << QStringList{"feed 0 " + read + write, "take 0 " + read + "," + write};
    QTest::newRow("the rest of a frame comes later")
        << QStringList{"feed 0 " + read.left(10), "take 1 -", "feed 2 " + read.mid(10), "take 2 " + read};
    QTest::newRow("a frame cut short is dropped after the silence")
        << QStringList{"feed 0 " + read.left(10), "take 20 -", "feed 21 " + read, "take 21 " + read};
    QTest::newRow("an unknown function ends by silence")
        << QStringList{"feed 0 " + odd, "take 5 -", "take 15 " + odd};
    QTest::newRow("noise claiming a long frame, then a gap")
        << QStringList{"feed 0 ff10", "feed 30 " + read, "take 30 " + read};
}

void tst_rtuFrame::assembler()
{
    QFETCH(QStringList, steps);
    frameAssembler a(milliseconds(15));
    const auto t = steady_clock::now();
    for (const QString& step : steps) {
        const QStringList w = step.split(QLatin1Char(' '));
        const auto at = t + milliseconds(w[1].toInt());
        if (w[0] == QLatin1String("feed")) {
            const std::vector<uint8_t> b = bytes(w[2].toLatin1());
            a.feed(b.data(), b.size(), at);
            continue;
        }
        QStringList got;
        for (const auto& f : a.takeFrames(at))
            got << QString::fromLatin1(hexOf(f));
        QCOMPARE(got.join(QLatin1Char(',')), w[2] == QLatin1String("-") ? QString() : w[2]);
    }
    QVERIFY(!a.silenceDeadline());  // nothing is left waiting
}

void tst_rtuFrame::wireTimes_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("baud");
    QTest::addColumn<qint64>("atLeastUs");
    QTest::addColumn<qint64>("belowUs");
    // Reading 20 registers: 8 bytes out, 5 + 40 back.
    QTest::newRow("20 registers at 115200") << 8 << 45 << 115200 << qint64(8100) << qint64(8110);
    QTest::newRow("20 registers at 9600") << 8 << 45 << 9600 << qint64(62500) << qint64(62501);
    QTest::newRow("20 registers at 19200: silence by characters")
        << 8 << 45 << 19200 << qint64(31250) << qint64(31251);
    QTest::newRow("20 registers at 38400: 1.75 ms silences")
        << 8 << 45 << 38400 << qint64(17302) << qint64(17303);
    QTest::newRow("no baud rate") << 8 << 45 << 0 << qint64(0) << qint64(1);
}

void tst_rtuFrame::wireTimes()
{
    QFETCH(int, request);
    QFETCH(int, answer);
    QFETCH(int, baud);
    QFETCH(qint64, atLeastUs);
    QFETCH(qint64, belowUs);
    const nanoseconds t = wireTime(size_t(request), size_t(answer), unsigned(baud));
    QVERIFY2(t >= microseconds(atLeastUs), qPrintable(QString::number(t.count())));
    QVERIFY2(t < microseconds(belowUs), qPrintable(QString::number(t.count())));
}

QR_TEST_GUILESS_MAIN(tst_rtuFrame)
#include "tst_rtuframe.moc"
