// Reading and writing config_com.xml. Failures are reported by the result
// only; the connection page stays silent about them.
#include "comsettingsfile.h"

#include "comsettings.h"

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
    const QDomElement root = doc.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement setting = node.toElement();
        if (setting.isNull() || setting.tagName() != QLatin1String("Setting"))
            continue;
        for (QDomNode child = setting.firstChild(); !child.isNull(); child = child.nextSibling()) {
            const QDomElement field = child.toElement();
            if (!field.isNull())
                applyField(field.tagName(), field.text(), settings);
        }
    }
    return true;
}

bool comSettingsFile::write(const QString& fileName, const comSettings& settings)
{
    const QDomDocument doc = toDocument(settings);
    QSaveFile file(fileName);
    // Never fall back to writing in place: a power cut in the middle of that
    // write would leave a truncated file, the very moment this file matters.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    saveDocument(doc, &file);
    return file.commit();
}
