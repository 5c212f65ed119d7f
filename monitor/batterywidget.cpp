#include "batterywidget.h"

#include <QPainter>

#include <algorithm>

batteryWidget::batteryWidget(QWidget* parent)
    : QWidget(parent)
{
    // No blink timer: one that changes nothing would still wake the GUI
    // twenty times a second for the program's whole life, tray included.
}

void batteryWidget::slotOnSetValue(int value)
{
    if (value < m_minValue)
        m_value = m_minValue;
    else if (value > m_maxValue)
        m_value = m_maxValue;
    else
        m_value = value;
    update();
}

void batteryWidget::updateValue()
{
    update();
}

void batteryWidget::slotOnBlink()
{
}

QString batteryWidget::text() const
{
    return QString::number(m_value) + QStringLiteral("%");
}

QVector<QRect> batteryWidget::cellRects() const
{
    QVector<QRect> cells;
    const int perCell = m_maxValue / m_cellCount;
    const int n = perCell > 0 ? m_value / perCell : 0;
    for (int i = 0; i < n; ++i)
        cells.append(QRect(m_cellStep * i + m_cellGap, m_bodyTop + m_cellInset,
                           m_cellStep - m_cellGap, m_cellHeight));
    return cells;
}

void batteryWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();

    m_capWidth = 2 * m_cellGap;
    m_bodyWidth = w - 2 * m_bodyLeft - m_capWidth;
    m_bodyHeight = h - 2 * m_bodyTop;
    m_capHeight = m_bodyHeight / 2;
    m_capLeft = m_bodyLeft + m_bodyWidth;
    m_capTop = m_bodyTop + m_bodyHeight / 4;
    m_cellStep = (m_bodyWidth - m_cellGap) / m_cellCount;
    m_cellHeight = m_bodyHeight - 2 * m_cellInset;
    m_textLeft = m_bodyLeft;
    m_textTop = m_bodyTop;
    m_textWidth = m_bodyWidth;
    m_textHeight = m_bodyHeight;

    QFont font(QStringLiteral("Microsoft Yahei"));
    // A gauge under 5 pixels high would ask for a zero-point font, which Qt refuses.
    font.setPointSize(std::max(1, m_bodyHeight / 5));
    font.setBold(false);
    font.setItalic(false);
    setFont(font);
    update();
}

void batteryWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    painter.setPen(QPen(QBrush(m_borderColor), m_borderWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(bodyRect());

    painter.setBrush(QBrush(m_borderColor, Qt::SolidPattern));
    painter.drawRect(capRect());

    painter.setPen(QPen(QBrush(m_cellColor), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(QBrush(m_cellColor, Qt::SolidPattern));
    for (const QRect& cell : cellRects())
        painter.drawRect(cell);

    painter.setPen(QPen(QBrush(m_borderColor), 1));
    painter.setFont(font());
    painter.drawText(textRect(), Qt::AlignHCenter | Qt::AlignVCenter, text());
}
