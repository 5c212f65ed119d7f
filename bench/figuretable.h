// The figures of one benchmark run: a table for people, and one line per
// figure ("figure NAME VALUE UNIT goal GOAL met|missed") for scripts.
#pragma once

#include <QString>
#include <QStringList>

#include <limits>
#include <vector>

class QTextStream;

struct benchFigure
{
    enum Sense { AtMost, AtLeast };

    QString name;         // one word, for scripts: cadence_p10_115200
    QString title;        // for people: "Poll cadence"
    QString conditions;   // "115200 baud, poll 10 ms"
    double value = std::numeric_limits<double>::quiet_NaN();
    QString unit;
    Sense sense = AtMost;
    double goal = 0;
    int decimals = 2;
    QString wireLimit;    // the line's own share, or empty where none applies
    QString note;         // spread of the samples, what was counted
    QString error;        // why the figure could not be taken

    bool measured() const { return error.isEmpty() && value == value; }
    bool met() const;
    QString goalText() const;
    QString valueText() const;
};

class figureTable
{
public:
    void add(const benchFigure& figure);
    // One line as the figure is taken, so a long run shows its progress.
    static void announce(const benchFigure& figure);

    void print(QTextStream& out, const QStringList& header) const;
    bool allMeasured() const;
    const std::vector<benchFigure>& figures() const { return m_figures; }

private:
    std::vector<benchFigure> m_figures;
};
