// The Trends page: the readings the status page has no room for (the
// "Details" group) and a chart of the last hour of input, output and battery
// voltage and battery level, with the moments DC was lost and came back on
// the time axis. It samples every block the watch delivers, whatever tab is
// current, and draws only while its own tab is.
#pragma once

#include "basewidget.h"
#include "statusdecoder.h"
#include "trendbuffer.h"

#include <QtCharts/QChartGlobal>

class QLabel;
class QPushButton;
class QTimer;
QT_CHARTS_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

class trendsWidget : public baseWidget
{
    Q_OBJECT
public:
    static constexpr int kRedrawMs = 1000;
    static constexpr qint64 kSpanMs = 3600 * 1000;
    static constexpr qint64 kMinSpanMs = 10 * 60 * 1000;

    explicit trendsWidget(QWidget* parent = nullptr);

    const trendBuffer& buffer() const { return m_buffer; }
    // Writes the buffer as CSV to path; false with the reason when it could not.
    bool exportTo(const QString& path, QString* reason) const;

public slots:
    void slotOnSetEnabled(bool enabled) override;
    // One block of the watch, stamped now.
    void slotOnBlock(const statusDecoder::block& registers, const statusDecoder::update& u);

private slots:
    void slotOnRedraw();
    void slotOnExportCsv();

protected:
    // The file dialog, replaced in tests.
    virtual QString chooseCsvFile();

private:
    void buildChart();

    trendBuffer m_buffer;
    statusDecoder::details m_details;
    bool m_detailsShown = true;
    quint64 m_drawnRevision = ~quint64(0);
    QTimer* m_redrawTimer = nullptr;

    QLabel* m_lblInputCurrentValue = nullptr;
    QLabel* m_lblOutputCurrentValue = nullptr;
    QLabel* m_lblBatteryVoltageValue = nullptr;
    QLabel* m_lblBatteryCurrentValue = nullptr;
    QLabel* m_lblTemperatureValue = nullptr;
    QLabel* m_lblRuntimeValue = nullptr;
    QLabel* m_lblAlarmsValue = nullptr;
    QPushButton* m_btnExportCsv = nullptr;

    QtCharts::QChart* m_chart = nullptr;
    QtCharts::QChartView* m_chartView = nullptr;
    QtCharts::QDateTimeAxis* m_timeAxis = nullptr;
    QtCharts::QValueAxis* m_voltAxis = nullptr;
    QtCharts::QValueAxis* m_levelAxis = nullptr;
    QtCharts::QLineSeries* m_input = nullptr;
    QtCharts::QLineSeries* m_output = nullptr;
    QtCharts::QLineSeries* m_battery = nullptr;
    QtCharts::QLineSeries* m_level = nullptr;
    QtCharts::QScatterSeries* m_dcLost = nullptr;
    QtCharts::QScatterSeries* m_dcBack = nullptr;
};
