// Collects the lines sent through the message bus while it lives.
#pragma once

#include "consoleprint.h"

#include <QObject>
#include <QStringList>

class LogCapture : public QObject
{
    Q_OBJECT
public:
    LogCapture();

    QStringList lines;
    QStringList hwVersions;
    QStringList fwVersions;
    QStringList drvVersions;

    int count(const QString& line) const { return lines.count(line); }
    int countStartingWith(const QString& prefix) const;
    void clear();
};
