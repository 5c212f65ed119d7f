// The status block as qr7215ctl prints it: decoded the way the status page
// decodes it (texts, signals, policy mode), plus the readings the page does
// not show, as one JSON object or as lines of text.
#pragma once

#include "statusdecoder.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

namespace jsonStatus {

QJsonObject object(const statusDecoder::block& registers);
// Lines of "name: value", for a person at a terminal.
QString text(const statusDecoder::block& registers);
// One line, for watch: the values that change.
QString line(const statusDecoder::block& registers);

// Registers from start, as {"40016": 24000, ...}.
QJsonObject registers(quint16 start, const QVector<quint16>& values);

} // namespace jsonStatus
