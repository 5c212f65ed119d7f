// A painted battery gauge: outline, terminal cap, up to five cells and the
// level as a percentage.
#pragma once

#include <QColor>
#include <QRect>
#include <QVector>
#include <QWidget>


class batteryWidget : public QWidget
{
    Q_OBJECT
public:
    explicit batteryWidget(QWidget* parent = nullptr);

    int value() const { return m_value; }
    // Geometry of the last resize, and what the current level draws.
    QRect bodyRect() const { return QRect(m_bodyLeft, m_bodyTop, m_bodyWidth, m_bodyHeight); }
    QRect capRect() const { return QRect(m_capLeft, m_capTop, m_capWidth, m_capHeight); }
    QRect textRect() const { return QRect(m_textLeft, m_textTop, m_textWidth, m_textHeight); }
    int cellStep() const { return m_cellStep; }
    int cellHeight() const { return m_cellHeight; }
    QVector<QRect> cellRects() const;
    QString text() const;

signals:
    void valueChanged(int value);

public slots:
    void slotOnSetValue(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void updateValue();
    void slotOnBlink();

private:
    int m_value = 0;
    int m_maxValue = 100;
    int m_minValue = 0;
    QColor m_borderColor{0, 0, 0};
    int m_borderWidth = 2;
    QColor m_cellColor{50, 205, 50};
    int m_cellGap = 5;
    int m_cellInset = 5;
    int m_bodyLeft = 0;
    int m_bodyWidth = 0;
    int m_bodyTop = 0;
    int m_bodyHeight = 0;
    int m_capLeft = 0;
    int m_capTop = 0;
    int m_capWidth = 0;
    int m_capHeight = 0;
    int m_cellCount = 5;
    int m_cellStep = 0;
    int m_cellHeight = 0;
    int m_textLeft = 0;
    int m_textTop = 0;
    int m_textWidth = 0;
    int m_textHeight = 0;
};
