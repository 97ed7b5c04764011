#pragma once

// Two small arrow buttons stacked, up over down, beside a numeric display.

#include <QWidget>

class QToolButton;

namespace cvkapp {

class TSpinButton : public QWidget {
    Q_OBJECT

public:
    explicit TSpinButton(QWidget* parent = nullptr);

    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

signals:
    void UpClick();
    void DownClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};

}  // namespace cvkapp
