// A painted indicator: a filled circle, lit or dark, with a caption under it.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

class ledWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ledWidget(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    bool isOn() const { return m_isOn; }
    QString text() const { return m_text; }
    QColor onColor() const { return m_onColor; }
    QColor offColor() const { return m_offColor; }
    // Geometry of the last resize.
    QRect circleRect() const { return QRect(m_circleLeft, m_circleTop, m_circleWidth, m_circleHeight); }
    QRect ellipseRect() const;
    QRect captionRect() const { return QRect(m_captionLeft, m_captionTop, m_captionWidth, m_captionHeight); }
    // The font the caption is drawn with: the widget's, narrowed to fit the strip.
    QFont captionFont() const;

public slots:
    void setOnColor(QColor color);
    void setOffColor(QColor color);
    void setText(QString text);
    void toggle();
    void turnOn(bool on);
    void turnOn();
    void turnOff(bool off);
    void turnOff();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor m_onColor = Qt::green;
    QColor m_offColor = Qt::gray;
    QColor m_textColor = Qt::black;
    bool m_isOn = false;
    int m_areaLeft = 0;
    int m_areaWidth = 0;
    int m_areaTop = 0;
    int m_areaHeight = 0;
    int m_margin = 2;
    int m_circleLeft = 0;
    int m_circleTop = 0;
    int m_circleWidth = 0;
    int m_circleHeight = 0;
    QString m_text;
    int m_captionLeft = 0;
    int m_captionTop = 0;
    int m_captionWidth = 0;
    int m_captionHeight = 0;
};
