// The program's icon, shown by the desktop's menus and launchers and by the window title:
// a silver microphone leaning over a round raspberry badge that carries a music note.
//
// Menus show it as small as 16 pixels, so the shapes are few and bold, the microphone has a
// dark handle against the light badge, and the note stays clear of the microphone.

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include "Painter.h"

namespace {

const QPointF kBadgeCentre(32, 32);
constexpr double kBadgeRadius = 29;

void badge(QPainter& p) {
    p.save();
    // A soft shadow below the badge lifts it off any background.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawEllipse(kBadgeCentre + QPointF(0, 1.5), kBadgeRadius, kBadgeRadius);

    QLinearGradient body(QPointF(0, 3), QPointF(0, 61));
    body.setColorAt(0, QColor(255, 112, 132));
    body.setColorAt(1, QColor(196, 34, 112));
    p.setPen(QPen(QColor(140, 18, 80), 1.5));
    p.setBrush(body);
    p.drawEllipse(kBadgeCentre, kBadgeRadius - 0.75, kBadgeRadius - 0.75);

    // A gloss over the upper half, as on an enamel badge.
    QLinearGradient gloss(QPointF(0, 5), QPointF(0, 32));
    gloss.setColorAt(0, QColor(255, 255, 255, 110));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(10, 5, 44, 27));
    p.restore();
}

// Two beamed eighth notes in the badge's upper left, where the microphone leaves room.
void note(QPainter& p) {
    p.save();
    const QColor ink(255, 255, 255, 235);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    for (const QPointF head : {QPointF(12.5, 35), QPointF(22.5, 31)}) {
        p.save();
        p.translate(head);
        p.rotate(-22);
        p.drawEllipse(QPointF(0, 0), 3.6, 2.6);
        p.restore();
    }
    // Stems on the heads' right, joined by a slanting beam.
    QPainterPath stems;
    stems.addRect(QRectF(15.2, 16, 1.8, 19));
    stems.addRect(QRectF(25.2, 12, 1.8, 19));
    p.drawPath(stems);
    QPainterPath beam;
    beam.moveTo(15.2, 16);
    beam.lineTo(27, 12);
    beam.lineTo(27, 16);
    beam.lineTo(15.2, 20);
    beam.closeSubpath();
    p.drawPath(beam);
    p.restore();
}

// The microphone in its own coordinates: the head's centre at the origin, the handle
// pointing down the y axis.
QPainterPath handleShape() {
    QPainterPath handle;
    handle.moveTo(-6, 12);
    handle.lineTo(6, 12);
    handle.lineTo(3.6, 34);
    handle.quadTo(0, 37, -3.6, 34);
    handle.closeSubpath();
    return handle;
}

constexpr double kHeadRadius = 10.5;

void microphone(QPainter& p) {
    p.save();
    p.translate(39, 26);
    p.rotate(32);

    // Shadow: the whole microphone, dark and a little down and to the right of the badge.
    p.save();
    p.translate(1.2, 1.6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 0, 30, 90));
    p.drawPath(handleShape());
    p.drawEllipse(QPointF(0, 0), kHeadRadius, kHeadRadius);
    p.restore();

    // Handle: dark lacquer with a light stripe down its left side.
    QLinearGradient lacquer(QPointF(-6, 0), QPointF(6, 0));
    lacquer.setColorAt(0, QColor(74, 78, 92));
    lacquer.setColorAt(0.35, QColor(46, 48, 58));
    lacquer.setColorAt(1, QColor(18, 19, 24));
    p.setPen(QPen(QColor(10, 10, 14), 0.8));
    p.setBrush(lacquer);
    p.drawPath(handleShape());
    p.setPen(QPen(QColor(255, 255, 255, 70), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-3.4, 15), QPointF(-1.8, 31));

    // Collar between head and handle.
    QLinearGradient collar(QPointF(-7, 0), QPointF(7, 0));
    collar.setColorAt(0, QColor(230, 232, 238));
    collar.setColorAt(1, QColor(120, 124, 134));
    p.setPen(QPen(QColor(40, 42, 50), 0.8));
    p.setBrush(collar);
    p.drawRoundedRect(QRectF(-7, 8.5, 14, 4.5), 1.5, 1.5);

    // Head: a silver ball lit from the top left, with a grille of crossing wires.
    QRadialGradient silver(QPointF(-4, -4.5), kHeadRadius * 1.6);
    silver.setColorAt(0, QColor(255, 255, 255));
    silver.setColorAt(0.45, QColor(196, 200, 210));
    silver.setColorAt(1, QColor(96, 100, 114));
    p.setPen(Qt::NoPen);
    p.setBrush(silver);
    p.drawEllipse(QPointF(0, 0), kHeadRadius, kHeadRadius);

    p.save();
    QPainterPath ball;
    ball.addEllipse(QPointF(0, 0), kHeadRadius - 0.5, kHeadRadius - 0.5);
    p.setClipPath(ball);
    p.setPen(QPen(QColor(70, 74, 88, 130), 0.7));
    for (double d = -14; d <= 14; d += 3.5) {
        p.drawLine(QPointF(d - 12, -12), QPointF(d + 12, 12));
        p.drawLine(QPointF(d + 12, -12), QPointF(d - 12, 12));
    }
    p.restore();

    p.setPen(QPen(QColor(52, 54, 66), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(0, 0), kHeadRadius, kHeadRadius);
    // A highlight on the ball, over the grille.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QPointF(-4.2, -4.6), 2.8, 2);
    p.restore();
}

void appIcon(QPainter& p, QSize) {
    badge(p);
    note(p);
    microphone(p);
}

const pictures::Registration registration{{{"AppIcon", QSize(64, 64), appIcon}}};

}  // namespace
