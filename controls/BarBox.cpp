#include "BarBox.h"

#include <QPainter>

#include "Digits.h"
#include "Pictures.h"

TBarBox::TBarBox(QWidget* parent) : QWidget(parent) {
    for (int digit = 0; digit < 10; ++digit) {
        m_digits[static_cast<std::size_t>(digit)] =
            controls::picture(QStringLiteral("BBTBOX_%1").arg(digit));
    }
    m_colon = controls::picture(QStringLiteral("BBT_COLON"));
    m_barLabel = controls::picture(QStringLiteral("BBTBOX_BAR"));
    m_beatLabel = controls::picture(QStringLiteral("BBTBOX_BEAT"));
    m_tickLabel = controls::picture(QStringLiteral("BBTBOX_TICK"));
    m_background = controls::picture(QStringLiteral("BBTBOX_BK"));
    resize(sizeHint());
}

void TBarBox::SetPosition(int bar, int beat, int tick) {
    if (bar == m_bar && beat == m_beat && tick == m_tick) {
        return;
    }
    m_bar = bar;
    m_beat = beat;
    m_tick = tick;
    emit PositionChanged();
    // The background covers the face, so nothing is erased first and the digits never
    // flicker.
    repaint();
}

void TBarBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawPixmap(1, 1, m_background);
    const auto bar = controls::digits::split<3>(m_bar);
    const auto beat = controls::digits::split<2>(m_beat);
    const auto tick = controls::digits::split<3>(m_tick);
    if (!bar || !beat || !tick) {
        return;
    }
    auto face = [this](int digit) { return m_digits[static_cast<std::size_t>(digit)]; };
    for (std::size_t i = 0; i < BarX.size(); ++i) {
        painter.drawPixmap(BarX[i], DigitY, face((*bar)[i]));
    }
    painter.drawPixmap(40, DigitY, m_colon);
    for (std::size_t i = 0; i < BeatX.size(); ++i) {
        painter.drawPixmap(BeatX[i], DigitY, face((*beat)[i]));
    }
    painter.drawPixmap(78, DigitY, m_colon);
    for (std::size_t i = 0; i < TickX.size(); ++i) {
        painter.drawPixmap(TickX[i], DigitY, face((*tick)[i]));
    }
    painter.drawPixmap(11, 19, m_barLabel);
    painter.drawPixmap(49, 19, m_beatLabel);
    painter.drawPixmap(92, 19, m_tickLabel);
}
