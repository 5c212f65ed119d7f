// Feeds Network UPS Tools: writes the module's state into the data file that
// NUT's dummy-ups driver (mode dummy-once) reads, so that upsd serves the
// module to every machine while this utility owns the serial line. Written
// whole and atomically at every change, at most once a second; when the link
// is lost the readings and ups.status are written empty: the driver drops
// the readings and serves an empty status, which upsmon takes for a UPS that
// is gone, as for stale data, instead of trusting the last values.
#pragma once

#include "statusdecoder.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class nutDataFile : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMinIntervalMs = 1000;
    static constexpr int kLinkCheckMs = 250;

    explicit nutDataFile(const QString& path, QObject* parent = nullptr);

    QString path() const { return m_path; }
    // What decides that the link is up; the device adapter's state unless a
    // test says otherwise.
    void setLinkCheck(std::function<bool()> linkUp) { m_linkUp = std::move(linkUp); }

    // The file's text for a block, and for a lost link.
    static QByteArray content(const statusDecoder::block& registers, const QString& firmware);
    static QByteArray staleContent(const QString& firmware);
    // "OL CHRG", "OB DISCHRG LB"...
    static QString status(const statusDecoder::block& registers);

    // Writes that failed since the start (a full disk, a folder that went away).
    int failedWrites() const { return m_failedWrites; }

public slots:
    void slotOnBlock(const statusDecoder::block& registers);
    // The firmware version as the open reported it; "0000" (no link) is kept out.
    void slotOnFirmware(const QString& version);

private slots:
    void slotOnCheckLink();
    void slotOnDue();

private:
    void offer(const QByteArray& text);
    void writeNow();

    QString m_path;
    QString m_firmware;
    std::function<bool()> m_linkUp;
    // The text that should be in the file, and what was last written there.
    QByteArray m_wanted;
    QByteArray m_written;
    bool m_haveBlock = false;
    bool m_stale = false;
    qint64 m_lastWriteMs = 0;
    bool m_everWritten = false;
    int m_failedWrites = 0;
    bool m_failing = false;
    QTimer m_due;
    QTimer m_linkTimer;
};
