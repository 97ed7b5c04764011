#include "SpinButton.h"

#include <QToolButton>

namespace cvkapp {

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this)) {
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {m_up, m_down}) {
        // Held down, a spin button keeps stepping, as users expect of one.
        button->setAutoRepeat(true);
        button->setAutoRepeatDelay(400);
        button->setAutoRepeatInterval(80);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_up, &QToolButton::clicked, this, &TSpinButton::UpClick);
    connect(m_down, &QToolButton::clicked, this, &TSpinButton::DownClick);
    resize(16, 26);
}

void TSpinButton::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
}

}  // namespace cvkapp
