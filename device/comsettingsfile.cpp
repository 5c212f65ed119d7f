// Reading and writing config_com.xml. Failures are reported by the result
// and a reason; the connection page logs a failed save.
#include "comsettingsfile.h"

#include "comsettings.h"

#include <QBuffer>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace {

const char* const kFieldNames[] = {
    "ComMode", "SlaveId", "ComPort", "BaudRate", "DataLen", "StopBits", "Parity",
    "ResponseTimeout", "NumOfRetries", "PollDelay", "AutoBoot", "AutoConnect", "AutoHide",
};

// A text that does not convert reads as 0, as the file has always been read.
uint toNumber(const QString& text)
{
    return text.toUInt(nullptr, 10);
}

QString flagText(bool flag)
{
    return flag ? QStringLiteral("1") : QStringLiteral("0");
}

void applyField(const QString& name, const QString& text, comSettings& s)
{
    if (name == QLatin1String("ComMode"))
        s.comMode = static_cast<quint8>(toNumber(text));
    else if (name == QLatin1String("SlaveId"))
        s.slaveId = static_cast<quint16>(toNumber(text));
    else if (name == QLatin1String("ComPort"))
        s.comPort = text;
    else if (name == QLatin1String("BaudRate"))
        s.baudRate = toNumber(text);
    else if (name == QLatin1String("DataLen"))
        s.dataLen = static_cast<quint8>(toNumber(text));
    else if (name == QLatin1String("StopBits"))
        s.stopBits = static_cast<quint8>(toNumber(text));
    else if (name == QLatin1String("Parity"))
        s.parity = static_cast<quint8>(toNumber(text));
    else if (name == QLatin1String("ResponseTimeout"))
        s.responseTimeout = toNumber(text);
    else if (name == QLatin1String("NumOfRetries"))
        s.numOfRetries = toNumber(text);
    else if (name == QLatin1String("PollDelay"))
        s.pollDelay = toNumber(text);
    else if (name == QLatin1String("AutoBoot"))
        s.autoBoot = toNumber(text) != 0;
    else if (name == QLatin1String("AutoConnect"))
        s.autoConnect = toNumber(text) != 0;
    else if (name == QLatin1String("AutoHide"))
        s.autoHide = toNumber(text) != 0;
}

// XML 1.0 carries only these characters, not even as character references.
// Qt's reader lets a reference to another one (&#xFFFF;) through; a record
// holding it would then be saved as a file that no reader accepts, and the
// next start would lose every setting.
bool isXmlText(const QString& text)
{
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
                             || (c >= 0xE000 && c <= 0xFFFD);
        if (!allowed)
            return false;
    }
    return true;
}

QString fieldText(int index, const comSettings& s)
{
    switch (index) {
    case 0: return QString::number(s.comMode);
    case 1: return QString::number(s.slaveId);
    case 2: return s.comPort;
    case 3: return QString::number(s.baudRate);
    case 4: return QString::number(s.dataLen);
    case 5: return QString::number(s.stopBits);
    case 6: return QString::number(s.parity);
    case 7: return QString::number(s.responseTimeout);
    case 8: return QString::number(s.numOfRetries);
    case 9: return QString::number(s.pollDelay);
    case 10: return flagText(s.autoBoot);
    case 11: return flagText(s.autoConnect);
    default: return flagText(s.autoHide);
    }
}

QDomDocument toDocument(const comSettings& s)
{
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml"),
                                                    QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = doc.createElement(QStringLiteral("Settings"));
    doc.appendChild(root);
    QDomElement setting = doc.createElement(QStringLiteral("Setting"));
    root.appendChild(setting);
    int index = 0;
    for (const char* name : kFieldNames) {
        QDomElement field = doc.createElement(QLatin1String(name));
        field.appendChild(doc.createTextNode(fieldText(index++, s)));
        setting.appendChild(field);
    }
    return doc;
}

void saveDocument(const QDomDocument& doc, QIODevice* device)
{
    QTextStream out(device);
    out.setCodec("UTF-8");
    doc.save(out, 4, QDomNode::EncodingFromTextStream);
    out.flush();
}

} // namespace

bool comSettingsFile::read(const QString& fileName, comSettings& settings)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDomDocument doc;
    if (!doc.setContent(&file, true))
        return false;

    // The root's name is not checked: any root holding a Setting element will do.
    // Fields go to a copy first, so a file that turns out not to be well-formed
    // after all (a port name with a character XML does not allow) leaves the
    // record as it was.
    comSettings read;
    read.assignFrom(settings);
    const QDomElement root = doc.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement setting = node.toElement();
        if (setting.isNull() || setting.tagName() != QLatin1String("Setting"))
            continue;
        for (QDomNode child = setting.firstChild(); !child.isNull(); child = child.nextSibling()) {
            const QDomElement field = child.toElement();
            if (field.isNull())
                continue;
            const QString text = field.text();
            // The port name is the one text the record keeps as it stands.
            if (field.tagName() == QLatin1String("ComPort") && !isXmlText(text))
                return false;
            applyField(field.tagName(), text, read);
        }
    }
    settings.assignFrom(read);
    return true;
}

bool comSettingsFile::write(const QString& fileName, const comSettings& settings, QString* reason)
{
    auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    // A port name XML cannot carry would make a file nothing can read back.
    if (!isXmlText(settings.comPort))
        return fail(QStringLiteral("the port name holds a character the file cannot carry"));
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        saveDocument(toDocument(settings), &buffer);
    }
    QSaveFile file(fileName);
    // Never fall back to writing in place: a power cut in the middle of that
    // write would leave a truncated file, the very moment this file matters.
    file.setDirectWriteFallback(false);
    // Unbuffered, so a write the disk cuts short shows in its count: Qt 5's
    // QSaveFile ignores a failure that surfaces only when its buffer is
    // flushed, and would put an empty or truncated file in place of the old
    // one when the disk is full.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
