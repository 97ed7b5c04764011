#pragma once

#include <QColor>
#include <QPoint>
#include <QWidget>

class QPainter;

// A black panel with a sunken frame: the body of the LED meters and of the face buttons.
class TRecessedPanel : public QWidget {
    Q_OBJECT
    // Kept for forms that set it; the frame is always drawn the same way.
    Q_PROPERTY(int Bevel READ Bevel WRITE SetBevel NOTIFY BevelChanged)

public:
    explicit TRecessedPanel(QWidget* parent = nullptr);

    int Bevel() const { return m_bevel; }
    void SetBevel(int value);

    QSize sizeHint() const override { return {65, 65}; }

    // Draws the panel face into a `size` area at the painter's origin.
    static void paintRecessed(QPainter& painter, QSize size);
    // A one-pixel line from `from` up to but not including `to`, horizontal or vertical.
    // Drawn as filled pixels so the frame stays crisp at any device pixel ratio.
    static void drawLine(QPainter& painter, QPoint from, QPoint to, const QColor& colour);

signals:
    void BevelChanged(int bevel);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bevel = 0;
};
