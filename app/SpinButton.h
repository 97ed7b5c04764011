#pragma once

// Two small arrow buttons stacked, up over down, beside a numeric display.

#include <QAbstractButton>
#include <QWidget>

namespace cvkapp {

// One arrow of the pair. It draws itself rather than through the widget style, so the
// dark panel it sits on cannot wash its arrow out or make a disabled one look brighter.
class TSpinArrow : public QAbstractButton {
    Q_OBJECT

public:
    TSpinArrow(Qt::ArrowType direction, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::ArrowType m_direction;
};

class TSpinButton : public QWidget {
    Q_OBJECT

public:
    explicit TSpinButton(QWidget* parent = nullptr);

    QAbstractButton* upButton() const { return m_up; }
    QAbstractButton* downButton() const { return m_down; }

signals:
    void UpClick();
    void DownClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TSpinArrow* m_up;
    TSpinArrow* m_down;
};

}  // namespace cvkapp
