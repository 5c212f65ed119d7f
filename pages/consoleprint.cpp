#include "consoleprint.h"

consolePrint g_consolePrint;

void consolePrint::showMsg(const QString& msg)
{
    emit signalShowMsg(msg);
}

void consolePrint::showHwVer(const QString& msg)
{
    emit signalShowHwVer(msg);
}

void consolePrint::showFwVer(const QString& msg)
{
    emit signalShowFwVer(msg);
}

void consolePrint::showDrvVer(const QString& msg)
{
    emit signalShowDrvVer(msg);
}
