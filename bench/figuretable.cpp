#include "figuretable.h"

#include <QTextStream>

#include <algorithm>
#include <cstdio>

bool benchFigure::met() const
{
    if (!measured())
        return false;
    return sense == AtMost ? value <= goal : value >= goal;
}

QString benchFigure::goalText() const
{
    return QString(sense == AtMost ? "<=" : ">=") + QString::number(goal, 'f', decimals);
}

QString benchFigure::valueText() const
{
    return measured() ? QString::number(value, 'f', decimals) : QStringLiteral("nan");
}

void figureTable::add(const benchFigure& figure)
{
    m_figures.push_back(figure);
    announce(figure);
}

void figureTable::announce(const benchFigure& f)
{
    const QString line = QStringLiteral("  %1: %2 %3 (goal %4)%5\n")
                             .arg(f.name, f.valueText(), f.unit, f.goalText(),
                                  f.error.isEmpty() ? QString() : QStringLiteral(" error: ") + f.error);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

bool figureTable::allMeasured() const
{
    return std::all_of(m_figures.begin(), m_figures.end(), [](const benchFigure& f) { return f.measured(); });
}

namespace {

QString cell(const QString& text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '));
}

} // namespace

void figureTable::print(QTextStream& out, const QStringList& header) const
{
    for (const QString& line : header)
        out << line << '\n';
    out << '\n';

    const QStringList titles{"Figure", "Conditions", "Value", "Goal", "Wire limit", "Spread / note", "Result"};
    std::vector<QStringList> rows;
    for (const benchFigure& f : m_figures) {
        rows.push_back({f.title, f.conditions, f.valueText() + ' ' + f.unit, f.goalText() + ' ' + f.unit,
                        f.wireLimit.isEmpty() ? QStringLiteral("-") : f.wireLimit,
                        f.error.isEmpty() ? f.note : QStringLiteral("error: ") + f.error,
                        f.met() ? QStringLiteral("met") : QStringLiteral("MISSED")});
    }
    std::vector<int> widths;
    for (const QString& t : titles)
        widths.push_back(t.size());
    for (const QStringList& r : rows)
        for (int i = 0; i < r.size(); ++i)
            widths[static_cast<size_t>(i)] = std::max(widths[static_cast<size_t>(i)], r.at(i).size());

    auto printRow = [&](const QStringList& r) {
        QString line;
        for (int i = 0; i < r.size(); ++i)
            line += cell(r.at(i), widths[static_cast<size_t>(i)]) + (i + 1 < r.size() ? " | " : "");
        out << line.trimmed() << '\n';
    };
    printRow(titles);
    QStringList rule;
    for (int w : widths)
        rule << QString(w, QLatin1Char('-'));
    printRow(rule);
    for (const QStringList& r : rows)
        printRow(r);
    out << '\n';

    for (const benchFigure& f : m_figures) {
        out << "figure " << f.name << ' ' << f.valueText() << ' ' << f.unit << " goal " << f.goalText() << ' '
            << (f.met() ? "met" : "missed") << '\n';
    }
    out.flush();
}
