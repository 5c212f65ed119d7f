// The module simulator's parts as plain functions (its CRC is proven by every
// exchange with the device library, its commands by fuzz_simcommand): cutting
// the byte stream into frames, wire times, the register bank's access rules
// and battery, the slave's answer (or silence) to whole frames.
#include <QtTest>

#include <chrono>

#include "frameassembler.h"
#include "modbusslave.h"
#include "registerbank.h"
#include "rtuframe.h"
#include "testenv.h"
#include "wiretime.h"

using namespace qr7215sim;
using namespace std::chrono;

namespace {

std::vector<uint8_t> bytes(const QString& hex)
{
    const QByteArray raw = QByteArray::fromHex(hex.toLatin1());
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

std::vector<uint8_t> withCrc(const QString& hex)
{
    std::vector<uint8_t> f = bytes(hex);
    appendCrc(f);
    return f;
}

QString hexOf(const std::vector<uint8_t>& f)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())).toHex());
}

// "REG=V REG=V" with the bank's values for the registers named in want, so
// that a mismatch shows every register side by side.
QString valuesLike(const registerBank& bank, const QString& want)
{
    QStringList got;
    for (const QString& pair : want.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int reg = pair.section(QLatin1Char('='), 0, 0).toInt();
        uint16_t v = 0;
        got << QStringLiteral("%1=%2").arg(reg).arg(bank.get(reg, v) ? int(v) : -1);
    }
    return got.join(QLatin1Char(' '));
}

} // namespace

class tst_simulator : public QObject
{
    Q_OBJECT

private slots:
    void assembler_data()
    {
        // Steps: "feed MS HEX" gives bytes at MS, "take MS HEX,HEX" or "take MS -"
        // expects the frames complete at MS (15 ms of silence end a frame).
        QTest::addColumn<QStringList>("steps");
        const QString read = hexOf(withCrc(QStringLiteral("010300100014")));
        const QString single = hexOf(withCrc(QStringLiteral("010600040037")));
        const QString several = hexOf(withCrc(QStringLiteral("01100004000204000a0014")));
        const QString odd = hexOf(withCrc(QStringLiteral("012b0e0100")));
        QTest::newRow("three functions in one read, cut by length")
            << QStringList{"feed 0 " + read + single + several, "take 0 " + read + "," + single + "," + several};
        QTest::newRow("the rest comes later: after one byte, before the byte count")
            << QStringList{"feed 0 " + read.left(2), "take 1 -", "feed 2 " + read.mid(2) + several.left(12),
                           "take 2 " + read, "feed 3 " + several.mid(12), "take 3 " + several};
        QTest::newRow("a frame cut short is dropped after the silence")
            << QStringList{"feed 0 " + read.left(10), "take 20 -"};
        QTest::newRow("an unknown function ends by silence")
            << QStringList{"feed 0 " + odd, "take 5 -", "take 15 " + odd};
        QTest::newRow("noise claiming a long frame, then a gap")
            << QStringList{"feed 0 ff10", "feed 30 " + read, "take 30 " + read};
    }

    void assembler()
    {
        QFETCH(QStringList, steps);
        frameAssembler a(milliseconds(15));
        const auto t = steady_clock::now();
        for (const QString& step : steps) {
            const QStringList w = step.split(QLatin1Char(' '));
            const auto at = t + milliseconds(w[1].toInt());
            if (w[0] == QLatin1String("feed")) {
                const std::vector<uint8_t> b = bytes(w[2]);
                a.feed(b.data(), b.size(), at);
                continue;
            }
            QStringList got;
            for (const auto& f : a.takeFrames(at))
                got << hexOf(f);
            QCOMPARE(got.join(QLatin1Char(',')), w[2] == QLatin1String("-") ? QString() : w[2]);
        }
        QVERIFY(!a.silenceDeadline());  // nothing is left waiting
    }

    void wireTimes_data()
    {
        // Reading 20 registers: 8 bytes out, 5 + 40 back, 10 bits a character.
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("ns");
        QTest::newRow("19200: silences of 3.5 characters") << 19200 << qint64(31250000);
        QTest::newRow("38400: silences of 1.75 ms, rounded up") << 38400 << qint64(17302084);
        QTest::newRow("no baud rate") << 0 << qint64(0);
    }

    void wireTimes()
    {
        QFETCH(int, baud);
        QFETCH(qint64, ns);
        QCOMPARE(qint64(wireTime(8, 45, unsigned(baud)).count()), ns);
    }

    // What the slave and the bank answer through the device library is
    // proven by tst_sdkfaults; here only what that library never sends.
    void bank_data()
    {
        // Steps over one bank and the slave (number 1) in front of it: fail,
        // restore, step (one percent), "set REG V" (the operator), moving or
        // idle (the battery), "write REG V,V.. EXCEPTION" (the bank's own
        // rules), "frame REQUEST ANSWER COUNTED" (the request without its CRC,
        // or with it after a slash; the answer without its CRC, "none" or
        // "bad crc"; the requests the slave counted so far), or "REG=V ..." to
        // expect.
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("writes: above and below a range, its bottom, a command acts and reads 0")
            << QStringList{"write 40001 8 3", "40001=7", "write 40007 5000 0", "write 40007 4999 3", "40007=5000",
                           "write 40011 2 0", "40011=0"};
        QTest::newRow("several, the last out of range: none stored")
            << QStringList{"write 40008 2000,2 3", "40008=1500 40009=1"};
        QTest::newRow("the policy setting is mirrored, written or set")
            << QStringList{"write 40003 6 0", "40003=6 40035=6", "set 40003 2", "40035=2"};
        QTest::newRow("requests the library never sends are refused")
            << QStringList{"frame 010300000000 018303 1", "frame 01030000007e 018303 2",
                           "frame 011000040001040021003c 019003 3", "40004=20", "frame 010400000001 018401 4"};
        QTest::newRow("another slave's or a damaged request is ignored, a broadcast done unanswered")
            << QStringList{"frame 020600040037 none 0", "frame 010600040037/89dc none 0", "40004=20",
                           "frame 000600040037 none 0", "40004=55"};
        QTest::newRow("power fails: on battery, draining")
            << QStringList{"idle", "fail", "40028=0 40027=2 40029=1 40016=0 40017=0 40021=1200", "moving",
                           "step", "step", "40026=98 40030=1"};
        QTest::newRow("at the low level still ready, below it not")
            << QStringList{"fail", "set 40026 21", "step", "40026=20 40030=1", "step", "40026=19 40030=0"};
        QTest::newRow("an empty battery stops")
            << QStringList{"fail", "set 40026 1", "step", "40026=0 40030=0", "idle", "step", "40026=0"};
        QTest::newRow("power returns: charging until full")
            << QStringList{"fail", "set 40026 99", "restore",
                           "40028=1 40027=1 40029=0 40016=24000 40017=850 40021=500", "moving",
                           "step", "40026=100 40021=0", "idle", "step", "40026=100"};
        QTest::newRow("a second failure keeps the input that comes back")
            << QStringList{"fail", "fail", "restore", "40016=24000 40017=850"};
    }

    void bank()
    {
        QFETCH(QStringList, steps);
        registerBank bank;
        modbusSlave slave(bank, 1);
        for (const QString& step : steps) {
            const QStringList w = step.split(QLatin1Char(' '));
            if (w[0] == QLatin1String("fail")) {
                bank.powerFail();
            } else if (w[0] == QLatin1String("restore")) {
                bank.powerRestore();
            } else if (w[0] == QLatin1String("step")) {
                bank.stepBattery();
            } else if (w[0] == QLatin1String("set")) {
                QVERIFY(bank.set(w[1].toInt(), uint16_t(w[2].toUInt())));
            } else if (w[0] == QLatin1String("moving") || w[0] == QLatin1String("idle")) {
                QVERIFY2(bank.batteryMoving() == (w[0] == QLatin1String("moving")), qPrintable(step));
            } else if (w[0] == QLatin1String("write")) {
                std::vector<uint16_t> v;
                for (const QString& n : w[2].split(QLatin1Char(',')))
                    v.push_back(uint16_t(n.toUInt()));
                QCOMPARE(int(bank.write(uint16_t(w[1].toInt() - 40000), v)), w[3].toInt());
            } else if (w[0] == QLatin1String("frame")) {
                QString request = w[1];
                const std::vector<uint8_t> got =
                    slave.handle(request.contains(QLatin1Char('/')) ? bytes(request.remove(QLatin1Char('/')))
                                                                    : withCrc(request));
                const QString body = got.empty() ? QStringLiteral("none")
                                     : !crcValid(got) ? QStringLiteral("bad crc")
                                                      : hexOf(got).chopped(4);
                QCOMPARE(body, w[2]);
                QCOMPARE(slave.requestCount(), w[3].toULongLong());
            } else {
                QCOMPARE(valuesLike(bank, step), step);
            }
        }
    }
};

QR_TEST_GUILESS_MAIN(tst_simulator)
#include "tst_simulator.moc"
