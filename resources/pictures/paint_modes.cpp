// The word marks of the processing-mode dialog, one above each choice: "SOFTWARE" trailed
// by two fading echoes of itself (the program plays the voice back and can add an echo),
// and "HARDWARE" over one straight arrow (the sound card's direct path from microphone to
// speakers). Both sit on a transparent ground, so the dialog's panels show through.

#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>

#include "Painter.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 40;

QPainterPath word(const QString& text, double pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(static_cast<int>(pixelSize));
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    QPainterPath path;
    path.addText(0, 0, font, text);
    return path;
}

// The path moved so that its box's left edge is at `left` and its baseline at `baseline`.
QPainterPath placed(const QPainterPath& path, double left, double baseline) {
    return path.translated(left - path.boundingRect().left(), baseline);
}

void software(QPainter& p, QSize size) {
    const QPainterPath mark = word(QStringLiteral("SOFTWARE"), 22);
    const double left = (size.width() - mark.boundingRect().width() - 16) / 2;
    const double baseline = 29;
    p.setPen(Qt::NoPen);
    // The echoes first, further and fainter, so the word itself lies on top.
    for (const auto& [shift, alpha] : {std::pair{16.0, 45}, std::pair{8.0, 95}}) {
        p.setBrush(QColor(196, 34, 112, alpha));
        p.drawPath(placed(mark, left + shift, baseline - shift / 4));
    }
    QLinearGradient face(QPointF(0, baseline - 18), QPointF(0, baseline));
    face.setColorAt(0, QColor(240, 80, 128));
    face.setColorAt(1, QColor(156, 31, 94));
    p.setPen(QPen(QColor(110, 16, 62), 0.8));
    p.setBrush(face);
    p.drawPath(placed(mark, left, baseline));
}

void hardware(QPainter& p, QSize size) {
    const QPainterPath mark = word(QStringLiteral("HARDWARE"), 22);
    const double width = mark.boundingRect().width();
    const double left = (size.width() - width) / 2;
    const double baseline = 25;
    QLinearGradient face(QPointF(0, baseline - 18), QPointF(0, baseline));
    face.setColorAt(0, QColor(120, 140, 170));
    face.setColorAt(1, QColor(40, 58, 88));
    p.setPen(QPen(QColor(24, 36, 58), 0.8));
    p.setBrush(face);
    p.drawPath(placed(mark, left, baseline));

    // One straight path under the word, from end to end: no detour through the program.
    const double y = 33.5;
    p.setPen(QPen(QColor(40, 58, 88), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(left + 2, y), QPointF(left + width - 6, y));
    QPainterPath head;
    head.moveTo(left + width, y);
    head.lineTo(left + width - 8, y - 4);
    head.lineTo(left + width - 8, y + 4);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 58, 88));
    p.drawPath(head);
    p.setBrush(QColor(40, 58, 88));
    p.drawEllipse(QPointF(left + 2, y), 2.6, 2.6);
}

const pictures::Registration kModes{{
    {QStringLiteral("MODE_SOFTWARE"), QSize(kWidth, kHeight), software},
    {QStringLiteral("MODE_HARDWARE"), QSize(kWidth, kHeight), hardware},
}};

}  // namespace
