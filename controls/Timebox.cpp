#include "Timebox.h"

#include <QPainter>

#include "Digits.h"
#include "Pictures.h"

TTimeBox::TTimeBox(QWidget* parent) : QWidget(parent) {
    for (int digit = 0; digit < 10; ++digit) {
        m_digits[static_cast<std::size_t>(digit)] =
            controls::picture(QStringLiteral("N%1").arg(digit));
    }
    m_colon = controls::picture(QStringLiteral("colon"));
    m_background = controls::picture(QStringLiteral("BACK"));
    resize(sizeHint());
}

void TTimeBox::SetTime(int seconds, int minutes) {
    if (seconds == m_seconds && minutes == m_minutes) {
        return;
    }
    m_seconds = seconds;
    m_minutes = minutes;
    emit TimeChanged();
    // The background covers the face, so nothing is erased first and the digits never
    // flicker.
    repaint();
}

void TTimeBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
    const auto minutes = controls::digits::split<2>(m_minutes);
    const auto seconds = controls::digits::split<2>(m_seconds);
    if (!minutes || !seconds) {
        return;
    }
    auto face = [this](int digit) { return m_digits[static_cast<std::size_t>(digit)]; };
    painter.drawPixmap(FaceX[0], DigitY, face((*minutes)[0]));
    painter.drawPixmap(FaceX[1], DigitY, face((*minutes)[1]));
    painter.drawPixmap(FaceX[2], DigitY, m_colon);
    painter.drawPixmap(FaceX[3], DigitY, face((*seconds)[0]));
    painter.drawPixmap(FaceX[4], DigitY, face((*seconds)[1]));
}
