#include "ledwidget.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

ledWidget::ledWidget(QWidget* parent)
    : QWidget(parent)
{
}

QSize ledWidget::sizeHint() const
{
    return QSize(20, 20);
}

QSize ledWidget::minimumSizeHint() const
{
    return QSize(16, 16);
}

QRect ledWidget::ellipseRect() const
{
    return QRect(m_circleLeft + m_margin, m_circleTop + m_margin,
                 m_circleWidth - 2 * m_margin, m_circleHeight - 2 * m_margin);
}

void ledWidget::setOnColor(QColor color)
{
    if (color == m_onColor)
        return;
    m_onColor = color;
    update();
}

void ledWidget::setOffColor(QColor color)
{
    if (color == m_offColor)
        return;
    m_offColor = color;
    update();
}

void ledWidget::setText(QString text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void ledWidget::toggle()
{
    m_isOn = !m_isOn;
    update();
}

void ledWidget::turnOn(bool on)
{
    m_isOn = on;
    update();
}

void ledWidget::turnOn()
{
    turnOn(true);
}

void ledWidget::turnOff(bool off)
{
    m_isOn = !off;
    update();
}

void ledWidget::turnOff()
{
    turnOff(true);
}

void ledWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    m_areaLeft = 0;
    m_areaTop = 0;
    m_margin = 2;
    m_areaWidth = w;
    m_areaHeight = h;

    const int s = std::min(w, h) / 3;
    const int d = 2 * s;
    m_circleLeft = (w - d) / 2 + m_areaLeft;
    m_circleTop = m_areaTop;
    m_circleWidth = d;
    m_circleHeight = d;

    m_captionLeft = m_areaLeft;
    m_captionTop = m_areaTop + d;
    m_captionWidth = w;
    m_captionHeight = s;

    QFont font(QStringLiteral("Microsoft Yahei"));
    // Below 6 pixels the caption would ask for a zero-point font, which Qt refuses.
    font.setPointSize(std::max(1, s / 2));
    font.setBold(false);
    font.setItalic(false);
    setFont(font);
    update();
}

QFont ledWidget::captionFont() const
{
    // The caption size suits the narrow "Microsoft Yahei"; where the platform
    // falls back to a wider family, "Bat.Ready" would lose its first and last
    // letters, so the caption shrinks just enough to fit its strip.
    // Glyph widths do not scale linearly with hinting, so step down until it fits.
    QFont caption = font();
    while (caption.pointSizeF() > 1.0
           && QFontMetrics(caption).horizontalAdvance(m_text) > m_captionWidth)
        caption.setPointSizeF(std::max(1.0, caption.pointSizeF() - 0.5));
    return caption;
}

void ledWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    const QColor color = m_isOn ? m_onColor : m_offColor;
    painter.setPen(QPen(QBrush(color), 1.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(QBrush(color, Qt::SolidPattern));
    painter.drawEllipse(ellipseRect());

    painter.setPen(QPen(QBrush(m_textColor), 1.0, Qt::SolidLine));
    painter.setFont(captionFont());
    painter.drawText(captionRect(), Qt::AlignHCenter | Qt::AlignVCenter, m_text);
}
