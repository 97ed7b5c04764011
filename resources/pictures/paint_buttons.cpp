// Pictures of the main window's buttons: the transport, record, monitor, performance and
// lyric-bar picture buttons (each drawn whole, per state), and the LED and symbol pictures
// that the face buttons put on a push-button face.
//
// The picture buttons look like a hardware front panel: dark brushed metal keys with a
// bevel, engraved light symbols, lit amber while pressed. Edges sit on whole logical
// pixels so the pictures stay crisp at 1x and 2x.

#include <QPainterPath>
#include <QPaintDevice>
#include <QPolygonF>
#include <functional>

#include "Painter.h"

namespace {

enum class Key { Up, Down, Disabled };

using Symbol = std::function<void(QPainter&, const QColor&)>;

const QColor kEdge(10, 11, 13);
const QColor kSymbolUp(230, 234, 238);
const QColor kSymbolDown(255, 195, 77);
const QColor kSymbolDisabled(92, 96, 102);

// One pixel row of a device, for the brushed grain: thinner than a logical pixel at 2x.
double devicePixel(QPainter& p) {
    return 1.0 / p.device()->devicePixelRatioF();
}

// A fixed pseudo-random grain per device row, so regenerated pictures are identical.
int grain(int row) {
    const unsigned mixed = static_cast<unsigned>(row) * 2654435761u;
    return static_cast<int>((mixed >> 13) % 17) - 8;
}

void plate(QPainter& p, QSize s, Key key) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRectF outer(0, 0, s.width(), s.height());
    const QRectF inner = outer.adjusted(1, 1, -1, -1);
    p.fillRect(outer, kEdge);

    QLinearGradient body(inner.topLeft(), inner.bottomLeft());
    switch (key) {
    case Key::Up:
        body.setColorAt(0, QColor(78, 83, 90));
        body.setColorAt(1, QColor(40, 43, 48));
        break;
    case Key::Down:
        body.setColorAt(0, QColor(30, 32, 35));
        body.setColorAt(1, QColor(50, 53, 58));
        break;
    case Key::Disabled:
        body.setColorAt(0, QColor(52, 55, 59));
        body.setColorAt(1, QColor(44, 46, 50));
        break;
    }
    p.fillRect(inner, body);

    // Brushed grain: faint light and dark streaks, one per device row.
    const double row = devicePixel(p);
    const int rows = static_cast<int>(inner.height() / row);
    const int strength = key == Key::Disabled ? 1 : 2;
    for (int r = 0; r < rows; ++r) {
        const int g = grain(r) * strength;
        const QColor streak = g >= 0 ? QColor(255, 255, 255, g) : QColor(0, 0, 0, -g);
        p.fillRect(QRectF(inner.left(), inner.top() + r * row, inner.width(), row), streak);
    }

    // Bevel: light from the top left on a raised key, reversed on a pressed one.
    QColor light(150, 156, 164);
    QColor dark(18, 20, 22);
    if (key == Key::Down) {
        light = QColor(12, 13, 15);
        dark = QColor(86, 91, 98);
    } else if (key == Key::Disabled) {
        light = QColor(72, 76, 81);
        dark = QColor(30, 32, 35);
    }
    const double w = inner.width();
    const double h = inner.height();
    p.fillRect(QRectF(inner.left(), inner.top(), w, 1), light);
    p.fillRect(QRectF(inner.left(), inner.top(), 1, h), light);
    p.fillRect(QRectF(inner.left(), inner.bottom() - 1, w, 1), dark);
    p.fillRect(QRectF(inner.right() - 1, inner.top(), 1, h), dark);
    p.restore();
}

QColor symbolColour(Key key) {
    switch (key) {
    case Key::Down:
        return kSymbolDown;
    case Key::Disabled:
        return kSymbolDisabled;
    case Key::Up:
        break;
    }
    return kSymbolUp;
}

// A key with its symbol engraved: a dark shadow one pixel below, the symbol moved one
// pixel right and down while pressed.
void key(QPainter& p, QSize s, Key state, const Symbol& symbol) {
    plate(p, s, state);
    p.save();
    if (state == Key::Down) {
        p.translate(1, 1);
    }
    if (state != Key::Disabled) {
        p.save();
        p.translate(0, 1);
        symbol(p, QColor(0, 0, 0, 170));
        p.restore();
    }
    symbol(p, symbolColour(state));
    p.restore();
}

void fillPolygon(QPainter& p, const QColor& c, std::initializer_list<QPointF> points) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(QPolygonF(QList<QPointF>(points)));
}

void stroke(QPainter& p, const QColor& c, double width) {
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
}

// Transport symbols, on a 29 × 30 key centred at x 14.5, y 15.

void playSymbol(QPainter& p, const QColor& c) {
    fillPolygon(p, c, {{11, 9}, {11, 21}, {20, 15}});
}

void pauseSymbol(QPainter& p, const QColor& c) {
    p.fillRect(QRectF(9, 9, 4, 12), c);
    p.fillRect(QRectF(16, 9, 4, 12), c);
}

void stopSymbol(QPainter& p, const QColor& c) {
    p.fillRect(QRectF(9, 9, 11, 12), c);
}

void rewindSymbol(QPainter& p, const QColor& c) {
    fillPolygon(p, c, {{14, 9}, {14, 21}, {8, 15}});
    fillPolygon(p, c, {{21, 9}, {21, 21}, {15, 15}});
}

void fastForwardSymbol(QPainter& p, const QColor& c) {
    fillPolygon(p, c, {{8, 9}, {8, 21}, {14, 15}});
    fillPolygon(p, c, {{15, 9}, {15, 21}, {21, 15}});
}

// The eject mark: opening a song loads a new "disc".
void openSymbol(QPainter& p, const QColor& c) {
    fillPolygon(p, c, {{14.5, 8}, {21, 16}, {8, 16}});
    p.fillRect(QRectF(8, 18, 13, 3), c);
}

void recordSymbol(QPainter& p, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(14.5, 15), 6, 6);
}

// Monitor: headphones on a 22 × 22 key.
void headphonesSymbol(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 10, 10), 0, 180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(5, 11, 3, 6), 1, 1);
    p.drawRoundedRect(QRectF(14, 11, 3, 6), 1, 1);
}

// Performance save (a diskette) and clear (a cross), on 23 × 22 keys.
void saveSymbol(QPainter& p, const QColor& c) {
    QPainterPath disk;
    disk.setFillRule(Qt::OddEvenFill);
    disk.moveTo(6, 5);
    disk.lineTo(15, 5);
    disk.lineTo(17, 7);
    disk.lineTo(17, 17);
    disk.lineTo(6, 17);
    disk.closeSubpath();
    disk.addRect(QRectF(10, 5, 4, 3));
    disk.addRect(QRectF(8, 11, 7, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(disk);
}

void clearSymbol(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7.5, 6.5), QPointF(15.5, 14.5));
    p.drawLine(QPointF(15.5, 6.5), QPointF(7.5, 14.5));
}

// Lyric bar symbols, on 16 × 15 keys.

void windowOutline(QPainter& p, const QColor& c, const QRectF& frame) {
    p.fillRect(QRectF(frame.left(), frame.top(), frame.width(), 2), c);
    p.fillRect(QRectF(frame.left(), frame.top(), 1, frame.height()), c);
    p.fillRect(QRectF(frame.right() - 1, frame.top(), 1, frame.height()), c);
    p.fillRect(QRectF(frame.left(), frame.bottom() - 1, frame.width(), 1), c);
}

void normalSizeSymbol(QPainter& p, const QColor& c) {
    windowOutline(p, c, QRectF(4, 5, 8, 5));
}

void maximizeSymbol(QPainter& p, const QColor& c) {
    windowOutline(p, c, QRectF(4, 3, 8, 9));
}

void fullScreenSymbol(QPainter& p, const QColor& c) {
    for (const auto& [x, y, dx, dy] :
         {std::tuple{3, 3, 1, 1}, {12, 3, -1, 1}, {3, 11, 1, -1}, {12, 11, -1, -1}}) {
        p.fillRect(QRectF(x, y, 1, 1), c);
        p.fillRect(QRectF(x + dx, y, 1, 1), c);
        p.fillRect(QRectF(x, y + dy, 1, 1), c);
        p.fillRect(QRectF(x + 2 * dx, y, 1, 1), c);
        p.fillRect(QRectF(x, y + 2 * dy, 1, 1), c);
    }
    p.fillRect(QRectF(6, 6, 4, 3), c);
}

void fontSymbol(QPainter& p, const QColor& c) {
    stroke(p, c, 1.6);
    QPainterPath letter;
    letter.moveTo(4.5, 12);
    letter.lineTo(8, 3);
    letter.lineTo(11.5, 12);
    p.drawPath(letter);
    p.setPen(QPen(c, 1.2));
    p.drawLine(QPointF(6, 9.2), QPointF(10, 9.2));
}

// Four paint swatches; a disabled or shadowed key shows them all in its own colour.
void colourSymbol(QPainter& p, const QColor& c) {
    const bool plain = c == kSymbolDisabled || c.alpha() < 255;
    const QColor swatches[] = {{228, 52, 44}, {250, 204, 38}, {58, 190, 72}, {48, 118, 236}};
    const QRectF cells[] = {{3, 3, 5, 4}, {9, 3, 5, 4}, {3, 8, 5, 4}, {9, 8, 5, 4}};
    for (int i = 0; i < 4; ++i) {
        p.fillRect(cells[i], plain ? c : swatches[i]);
    }
}

void magnifier(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(6.5, 6.5), 4, 4);
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(12.5, 12.5));
}

// The sign inside the lens sits on whole pixels around the lens centre, so it stays sharp.
void zoomInSymbol(QPainter& p, const QColor& c) {
    magnifier(p, c);
    p.fillRect(QRectF(4, 6, 5, 1), c);
    p.fillRect(QRectF(6, 4, 1, 5), c);
}

void zoomOutSymbol(QPainter& p, const QColor& c) {
    magnifier(p, c);
    p.fillRect(QRectF(4, 6, 5, 1), c);
}

// Up, Down and Disabled pictures of one key.
std::vector<pictures::Picture> keySet(const QString& name, QSize size, Symbol symbol) {
    std::vector<pictures::Picture> set;
    for (const auto& [suffix, state] :
         {std::pair{"Up", Key::Up}, {"Down", Key::Down}, {"Disabled", Key::Disabled}}) {
        set.push_back({name + suffix, size, [symbol, state = state](QPainter& p, QSize s) {
                           key(p, s, state, symbol);
                       }});
    }
    return set;
}

// The record key's lamp, drawn over "RecordUp" while recording: a glowing red disc with
// a hot centre; transparent elsewhere.
void recordLamp(QPainter& p, QSize) {
    QRadialGradient glow(QPointF(14.5, 15), 9);
    glow.setColorAt(0, QColor(255, 60, 40, 120));
    glow.setColorAt(1, QColor(255, 30, 20, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(14.5, 15), 9, 9);
    QRadialGradient lamp(QPointF(13.5, 13.5), 7);
    lamp.setColorAt(0, QColor(255, 200, 180));
    lamp.setColorAt(0.35, QColor(255, 60, 40));
    lamp.setColorAt(1, QColor(190, 16, 10));
    p.setBrush(lamp);
    p.drawEllipse(QPointF(14.5, 15), 6, 6);
}

void monitorKey(QPainter& p, QSize s, Key state, bool lit) {
    key(p, s, state, headphonesSymbol);
    const QRectF led(16, 3, 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(lit ? QColor(90, 255, 110) : QColor(20, 60, 26));
    p.drawRect(led);
}

// The face buttons' LED: a dot with a light rim; the dark picture is the same LED off.
void led(QPainter& p, QSize s, const QColor& colour, bool on) {
    const QColor body = on ? colour : colour.darker(330);
    const QColor rim = on ? QColor(colour).lighter(170) : colour.darker(170);
    const QRectF dot = QRectF(0, 0, s.width(), s.height()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(rim, 1));
    p.setBrush(body);
    p.drawEllipse(dot);
    if (on) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(QPointF(2.6, 2.6), 0.9, 0.9);
    }
}

std::vector<pictures::Picture> leds() {
    std::vector<pictures::Picture> all;
    for (const auto& [name, colour] : {std::pair{"Red", QColor(255, 32, 24)},
                                       {"Green", QColor(40, 230, 60)},
                                       {"Yellow", QColor(255, 220, 30)},
                                       {"Blue", QColor(50, 130, 255)}}) {
        for (bool on : {true, false}) {
            all.push_back({QStringLiteral("Small%1%2").arg(name, on ? "On" : "Off"), QSize(7, 7),
                           [colour = colour, on](QPainter& p, QSize s) { led(p, s, colour, on); }});
        }
    }
    return all;
}

void info(QPainter& p, QSize) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 80, 200));
    p.drawEllipse(QRectF(0, 0, 14, 14));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(7, 3.8), 1.3, 1.3);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRectF(6, 6, 2, 5), Qt::white);
    p.fillRect(QRectF(5, 6, 1, 1), Qt::white);
    p.fillRect(QRectF(5, 10, 4, 1), Qt::white);
}

void notes(QPainter& p, QSize s) {
    p.fillRect(QRectF(0, 0, s.width(), s.height()), QColor(192, 192, 192));
    const QColor blue(20, 40, 200);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    // Head tilted like an engraved note, stem on its right, one flag.
    p.save();
    p.translate(5.5, 12);
    p.rotate(-25);
    p.drawEllipse(QPointF(0, 0), 3, 2.1);
    p.restore();
    p.fillRect(QRectF(7.5, 2, 1.2, 10), blue);
    QPainterPath flag;
    flag.moveTo(8.7, 2);
    flag.cubicTo(9.5, 5, 12.5, 5.5, 11.5, 9.5);
    flag.cubicTo(11.6, 7, 10, 6, 8.7, 5.5);
    flag.closeSubpath();
    p.drawPath(flag);
}

std::vector<pictures::Picture> all() {
    std::vector<pictures::Picture> list;
    auto add = [&list](std::vector<pictures::Picture> more) {
        for (auto& picture : more) {
            list.push_back(std::move(picture));
        }
    };
    const QSize transport(29, 30);
    add(keySet("Play", transport, playSymbol));
    add(keySet("Pause", transport, pauseSymbol));
    add(keySet("Stop", transport, stopSymbol));
    add(keySet("Rewind", transport, rewindSymbol));
    add(keySet("FastForward", transport, fastForwardSymbol));
    add(keySet("Open", transport, openSymbol));
    add(keySet("Record", transport, [](QPainter& p, const QColor& c) {
        // The unlit lamp is dark red on a live key and grey on a disabled one.
        const bool plain = c == kSymbolDisabled || c.alpha() < 255;
        recordSymbol(p, plain ? c : c == kSymbolDown ? QColor(200, 40, 30) : QColor(120, 26, 22));
    }));
    list.push_back({"RecordOn", transport, recordLamp});

    const QSize monitor(22, 22);
    list.push_back({"MonitorOn", monitor, [](QPainter& p, QSize s) {
                        monitorKey(p, s, Key::Up, true);
                    }});
    list.push_back({"MonitorOff", monitor, [](QPainter& p, QSize s) {
                        monitorKey(p, s, Key::Up, false);
                    }});
    list.push_back({"MonitorDown", monitor, [](QPainter& p, QSize s) {
                        monitorKey(p, s, Key::Down, false);
                    }});
    list.push_back({"MonitorDisabled", monitor, [](QPainter& p, QSize s) {
                        monitorKey(p, s, Key::Disabled, false);
                    }});

    const QSize performance(23, 22);
    add(keySet("SavePerformance", performance, saveSymbol));
    add(keySet("ClearPerformance", performance, clearSymbol));

    const QSize lyricBar(16, 15);
    add(keySet("LyricNormalSize", lyricBar, normalSizeSymbol));
    add(keySet("LyricMaximize", lyricBar, maximizeSymbol));
    add(keySet("LyricFullScreen", lyricBar, fullScreenSymbol));
    add(keySet("LyricFont", lyricBar, fontSymbol));
    add(keySet("LyricColour", lyricBar, colourSymbol));
    add(keySet("LyricZoomIn", lyricBar, zoomInSymbol));
    add(keySet("LyricZoomOut", lyricBar, zoomOutSymbol));

    add(leds());
    list.push_back({"info", QSize(14, 14), info});
    list.push_back({"notes", QSize(14, 16), notes});
    return list;
}

const pictures::Registration registration{all()};

}  // namespace
