#include "trendswidget.h"

#include "consoleprint.h"
#include "wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGraphicsLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

constexpr int trendsWidget::kRedrawMs;
constexpr qint64 trendsWidget::kSpanMs;
constexpr qint64 trendsWidget::kMinSpanMs;

trendsWidget::trendsWidget(QWidget* parent)
    : baseWidget(parent)
{
    setObjectName(QStringLiteral("trendsWidget"));
    auto* layout = new QVBoxLayout(this);

    auto* group = new QGroupBox(tr("Details"));
    group->setObjectName(QStringLiteral("detailsGroup"));
    // Two columns of name and value, so the chart keeps the height.
    auto* grid = new QGridLayout(group);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    int place = 0;
    const auto value = [grid, &place](const QString& name, const char* objectName) {
        auto* label = new QLabel(QStringLiteral("-"));
        label->setObjectName(QLatin1String(objectName));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        const int row = place % 4;
        const int column = 2 * (place / 4);
        grid->addWidget(new QLabel(name), row, column);
        grid->addWidget(label, row, column + 1);
        ++place;
        return label;
    };
    m_lblInputCurrentValue = value(tr("Input current:"), "m_lblInputCurrentValue");
    m_lblOutputCurrentValue = value(tr("Output current:"), "m_lblOutputCurrentValue");
    m_lblBatteryVoltageValue = value(tr("Battery voltage:"), "m_lblBatteryVoltageValue");
    m_lblBatteryCurrentValue = value(tr("Battery current:"), "m_lblBatteryCurrentValue");
    m_lblTemperatureValue = value(tr("Temperature:"), "m_lblTemperatureValue");
    m_lblRuntimeValue = value(tr("Runtime estimate:"), "m_lblRuntimeValue");
    m_lblAlarmsValue = value(tr("Alarms:"), "m_lblAlarmsValue");
    layout->addWidget(group);

    buildChart();
    layout->addWidget(m_chartView, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_btnExportCsv = new QPushButton(tr("Export CSV…"));
    m_btnExportCsv->setObjectName(QStringLiteral("m_btnExportCsv"));
    connect(m_btnExportCsv, &QPushButton::clicked, this, &trendsWidget::slotOnExportCsv);
    buttons->addWidget(m_btnExportCsv);
    layout->addLayout(buttons);

    m_redrawTimer = new QTimer(this);
    m_redrawTimer->setObjectName(QStringLiteral("trendsRedrawTimer"));
    m_redrawTimer->setInterval(kRedrawMs);
    connect(m_redrawTimer, &QTimer::timeout, this, &trendsWidget::slotOnRedraw);
}

void trendsWidget::buildChart()
{
    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    // Short names in a smaller type and no frame around the chart: at the
    // window's first size the legend cut every name to its first letters.
    QFont legendFont = m_chart->legend()->font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    m_chart->legend()->setFont(legendFont);
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->setBackgroundRoundness(0);
    const auto line = [this](const QString& name) {
        auto* s = new QLineSeries;
        s->setName(name);
        // OpenGL would be faster but needs a GL context the offscreen and
        // remote desktops lack; 3600 points a second is well within raster.
        m_chart->addSeries(s);
        return s;
    };
    m_input = line(tr("Input (V)"));
    m_output = line(tr("Output (V)"));
    m_battery = line(tr("Battery (V)"));
    m_level = line(tr("Level (%)"));
    const auto marks = [this](const QString& name, const QColor& colour) {
        auto* s = new QScatterSeries;
        s->setName(name);
        s->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        s->setMarkerSize(9);
        s->setColor(colour);
        s->setBorderColor(colour);
        m_chart->addSeries(s);
        return s;
    };
    m_dcLost = marks(tr("DC lost"), Qt::red);
    m_dcBack = marks(tr("DC restored"), Qt::darkGreen);
    // Told under the time axis instead: six names in one row do not fit.
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(m_dcLost), static_cast<QAbstractSeries*>(m_dcBack)})
        for (QLegendMarker* marker : m_chart->legend()->markers(s))
            marker->setVisible(false);

    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("hh:mm"));
    m_timeAxis->setTickCount(7);
    m_timeAxis->setTitleText(tr("red: DC lost, green: DC restored"));
    m_voltAxis = new QValueAxis;
    m_voltAxis->setTitleText(tr("V"));
    m_voltAxis->setRange(0, 30);
    m_voltAxis->setLabelFormat(QStringLiteral("%.0f"));
    m_levelAxis = new QValueAxis;
    m_levelAxis->setTitleText(tr("%"));
    m_levelAxis->setRange(0, 100);
    m_levelAxis->setLabelFormat(QStringLiteral("%.0f"));
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_voltAxis, Qt::AlignLeft);
    m_chart->addAxis(m_levelAxis, Qt::AlignRight);
    for (QAbstractSeries* s : m_chart->series()) {
        s->attachAxis(m_timeAxis);
        s->attachAxis(s == m_level ? m_levelAxis : m_voltAxis);
    }
    m_chartView = new QChartView(m_chart);
    m_chartView->setObjectName(QStringLiteral("trendsChartView"));
    m_chartView->setRenderHint(QPainter::Antialiasing, false);
    m_chartView->setMinimumHeight(300);
}

void trendsWidget::slotOnSetEnabled(bool enabled)
{
    if (!enabled) {
        m_redrawTimer->stop();
        return;
    }
    slotOnRedraw();
    m_redrawTimer->start();
}

void trendsWidget::slotOnBlock(const statusDecoder::block& registers, const statusDecoder::update& u)
{
    m_buffer.add(QDateTime::currentMSecsSinceEpoch(), registers, u);
    m_details = u.shown.more;
    m_detailsShown = false;
}

void trendsWidget::slotOnRedraw()
{
    if (!m_detailsShown) {
        m_lblInputCurrentValue->setText(m_details.inputCurrent);
        m_lblOutputCurrentValue->setText(m_details.outputCurrent);
        m_lblBatteryVoltageValue->setText(m_details.batteryVoltage);
        m_lblBatteryCurrentValue->setText(m_details.batteryCurrent);
        m_lblTemperatureValue->setText(m_details.temperature);
        m_lblRuntimeValue->setText(m_details.runtime);
        m_lblAlarmsValue->setText(m_details.alarms);
        m_detailsShown = true;
    }
    // The last hour, or less while the samples cover less: a few minutes
    // after connecting would otherwise be a sliver at the right edge.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 first = m_buffer.size() > 0 ? m_buffer.at(0).ms : now;
    const qint64 wanted = now - std::min(now - kMinSpanMs, std::max(now - kSpanMs, first));
    // Ticks a whole number of minutes apart (two up to ten minutes, then
    // ten), or the minute labels step unevenly; at most seven, or a narrow
    // window cuts the labels short.
    const qint64 stepMs = wanted <= kMinSpanMs ? 120 * 1000 : 600 * 1000;
    const qint64 steps = std::max<qint64>(1, (wanted + stepMs - 1) / stepMs);
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(now - steps * stepMs), QDateTime::fromMSecsSinceEpoch(now));
    m_timeAxis->setTickCount(int(steps) + 1);
    if (m_buffer.revision() == m_drawnRevision)
        return;
    m_drawnRevision = m_buffer.revision();
    QVector<QPointF> in, out, bat, level;
    const int n = m_buffer.size();
    for (QVector<QPointF>* v : {&in, &out, &bat, &level})
        v->reserve(n);
    double topVolts = 0;
    for (int i = 0; i < n; ++i) {
        const trendBuffer::sample s = m_buffer.at(i);
        const double t = double(s.ms);
        in << QPointF(t, s.inputMv / 1000.0);
        out << QPointF(t, s.outputMv / 1000.0);
        bat << QPointF(t, s.batteryMv / 1000.0);
        level << QPointF(t, s.levelPercent);
        topVolts = std::max({topVolts, s.inputMv / 1000.0, s.outputMv / 1000.0, s.batteryMv / 1000.0});
    }
    // replace() redraws once, where appending point by point would redraw per point.
    m_input->replace(in);
    m_output->replace(out);
    m_battery->replace(bat);
    m_level->replace(level);
    QVector<QPointF> lost, back;
    for (const trendBuffer::mark& m : m_buffer.marks())
        (m.dcLost ? lost : back) << QPointF(double(m.ms), 0);
    m_dcLost->replace(lost);
    m_dcBack->replace(back);
    // Whole fives of volts with a tick at each, so the scale does not creep
    // with every sample.
    const double top = std::max(5.0, std::ceil(topVolts / 5.0) * 5.0);
    m_voltAxis->setRange(0, top);
    m_voltAxis->setTickCount(std::min(7, int(top / 5.0) + 1));
}

bool trendsWidget::exportTo(const QString& path, QString* reason) const
{
    return wholeFile::save(path, m_buffer.csv(), reason);
}

QString trendsWidget::chooseCsvFile()
{
    const QString name = QStringLiteral("QR-7215-trends-%1.csv")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    return QFileDialog::getSaveFileName(this, tr("Export CSV"), QDir::homePath() + QLatin1Char('/') + name,
                                        tr("CSV files (*.csv);;All files (*)"));
}

void trendsWidget::slotOnExportCsv()
{
    const QString path = chooseCsvFile();
    if (path.isEmpty())
        return;
    QString reason;
    if (exportTo(path, &reason))
        return;
    const QString text = tr("The trends could not be written to %1: %2").arg(QDir::toNativeSeparators(path), reason);
    g_consolePrint.showMsg(text);
    QMessageBox::warning(this, tr("Export CSV"), text);
}
