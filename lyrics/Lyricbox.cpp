#include "Lyricbox.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace lyrics {

namespace {

const QColor kSyllableColor(255, 0, 0);

int pointSizeOf(const QFont& font) {
    return font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize();
}

// One display line shaped as a whole, so that right-to-left text and joined scripts
// come out as they are read and a syllable can be coloured where it really is.
void shapeLine(QTextLayout& layout) {
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(Qt::LayoutDirectionAuto);
    option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

// Lines are centred, with the 5-pixel left margin inside the box's 12 pixels of room.
int centredX(int boxWidth, const QTextLayout& layout) {
    const qreal textWidth = layout.lineCount() > 0 ? layout.lineAt(0).naturalTextWidth() : 0;
    return (boxWidth - qRound(textWidth) - kHorizontalMargin) / 2 + 5;
}

}  // namespace

TLyricBox::TLyricBox(QWidget* parent) : QFrame(parent), m_color(palette().color(QPalette::Window)) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    // The box fills its background itself; a syllable repaint draws over what is there.
    setAttribute(Qt::WA_OpaquePaintEvent);
    Lines.push_back({QStringLiteral("No Lyrics Available"), std::nullopt});
}

QStringList TLyricBox::lines() const {
    QStringList texts;
    for (const LaidOutLine& line : Lines) {
        texts.append(line.text);
    }
    return texts;
}

const TlyricLine* TLyricBox::lineSyllables(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= Lines.size() ||
        !Lines[static_cast<std::size_t>(index)].syllables) {
        return nullptr;
    }
    return &*Lines[static_cast<std::size_t>(index)].syllables;
}

void TLyricBox::SetLyrics(const songfile::TlyricList* list, bool noSong) {
    if (list == nullptr) {
        Lyrics = nullptr;
        QStringList messages{QStringLiteral("No Lyrics Available")};
        if (!noSong) {
            messages.append(QStringLiteral("For this Song"));
        }
        showMessage(messages);
        update();
        return;
    }
    Lyrics = list;
    setPosition({0, -1});
    setTickCountSilently(0);

    const LyricDecoder decoder(list, m_charSet, m_nonEnglish);
    QFont measured = font();
    const int pointSize = pointSizeOf(measured);
    const auto textWidth = [&measured](const QString& text, int size) {
        measured.setPointSize(size);
        return QFontMetrics(measured).horizontalAdvance(text);
    };
    LyricLayout layout = layoutLyrics(list, decoder, pointSize, width(), textWidth);
    if (layout.pointSize != pointSize) {
        // The smaller size stays: it is what gets saved with the lyric font.
        QFont shrunk = font();
        shrunk.setPointSize(layout.pointSize);
        setFont(shrunk);
    }
    Lines = std::move(layout.lines);
    PartialPaint = false;
    update();
}

void TLyricBox::ShowLoading() {
    // The old song's list is freed while the new one loads; positions assigned meanwhile
    // have nothing to follow.
    Lyrics = nullptr;
    showMessage({QStringLiteral("Loading Lyrics"), QStringLiteral("from the MIDI file...")});
    repaint();
}

void TLyricBox::ResetPosition() {
    setPosition({0, -1});
    PartialPaint = false;
    update();
}

void TLyricBox::showMessage(QStringList messages) {
    Lines.clear();
    for (QString& message : messages) {
        Lines.push_back({std::move(message), std::nullopt});
    }
    setPosition({0, -1});
    setTickCountSilently(0);
    PartialPaint = false;
}

void TLyricBox::setTickCount(int value) {
    if (Lyrics == nullptr) {
        setTickCountSilently(0);
        setPosition({0, -1});
        return;
    }
    if (value == m_tickCount) {
        return;
    }
    setTickCountSilently(value);
    const LyricPosition current{TopLine, Syllable};
    const LyricPosition reached = positionForTick(Lines, value, current);
    if (reached == current) {
        return;
    }
    const bool sameLine = reached.line == current.line;
    setPosition(reached);
    if (sameLine) {
        PartialPaint = true;
        update(topLineBand());
    } else {
        PartialPaint = false;
        update();
    }
}

void TLyricBox::setTickCountSilently(int value) {
    if (value == m_tickCount) {
        return;
    }
    m_tickCount = value;
    emit tickCountChanged(value);
}

void TLyricBox::setPosition(LyricPosition position) {
    if (position.line == TopLine && position.syllable == Syllable) {
        return;
    }
    TopLine = position.line;
    Syllable = position.syllable;
    emit positionChanged();
}

void TLyricBox::setColor(const QColor& color) {
    if (color == m_color) {
        return;
    }
    m_color = color;
    emit colorChanged(color);
    PartialPaint = false;
    update();
}

void TLyricBox::setFontColor(const QColor& color) {
    if (color == m_fontColor) {
        return;
    }
    m_fontColor = color;
    emit fontColorChanged(color);
    PartialPaint = false;
    update();
}

void TLyricBox::setNonEnglishCharacters(bool on) {
    if (on == m_nonEnglish) {
        return;
    }
    m_nonEnglish = on;
    emit nonEnglishCharactersChanged(on);
}

void TLyricBox::setCharSet(int charSet) {
    if (charSet == m_charSet) {
        return;
    }
    m_charSet = charSet;
    emit charSetChanged(charSet);
}

int TLyricBox::lineHeight() const {
    return std::max(1, QFontInfo(font()).pixelSize());
}

int TLyricBox::visibleLineCount() const {
    const int h = lineHeight();
    // The lowest line needs its whole height, descenders included, not just its em; a
    // line whose descenders would be cut is not shown.
    const int whole = std::max(h, QFontMetrics(font()).height());
    const int room = contentsRect().height();
    int visible = std::max(0, (height() - 8) / h);
    while (visible > 0 && (visible - 1) * h + whole > room) {
        --visible;
    }
    return visible;
}

int TLyricBox::firstLineY() const {
    const int visible = visibleLineCount();
    if (visible == 0) {
        return height() / 2;
    }
    const int block = (visible - 1) * lineHeight() + std::max(lineHeight(), QFontMetrics(font()).height());
    return std::max(contentsRect().top(), (height() - block) / 2);
}

int TLyricBox::lineX(const QString& text) const {
    QTextLayout layout(text, font());
    shapeLine(layout);
    return centredX(width(), layout);
}

QRect TLyricBox::topLineBand() const {
    // Descenders reach below the packed line height; the band takes them in, and the
    // next line's tops inside it are drawn again with the rest.
    const int bandHeight = std::max(lineHeight(), QFontMetrics(font()).height());
    const QRect inside = contentsRect();
    return QRect(inside.left(), firstLineY(), inside.width(), bandHeight).intersected(inside);
}

void TLyricBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect band = topLineBand();
    // A syllable change repaints the top line alone. Its band is cleared all the same:
    // anti-aliased text drawn over itself in another colour leaves a fringe.
    if (PartialPaint && band.contains(event->rect())) {
        painter.fillRect(band, m_color);
    } else {
        painter.fillRect(rect(), m_color);
        drawFrame(&painter);
    }
    painter.setClipRect(contentsRect());

    const int h = lineHeight();
    const int visible = visibleLineCount();
    const int top = firstLineY();
    painter.setPen(m_fontColor);
    for (int i = 0; i < visible; ++i) {
        const std::size_t k = static_cast<std::size_t>(TopLine) + static_cast<std::size_t>(i);
        if (TopLine < 0 || k >= Lines.size()) {
            break;
        }
        const LaidOutLine& line = Lines[k];
        QTextLayout layout(line.text, font());
        shapeLine(layout);
        const QPointF origin(centredX(width(), layout), top + i * h);

        QList<QTextLayout::FormatRange> marked;
        if (i == 0 && Syllable >= 0 && line.syllables && Syllable < line.syllables->Count) {
            const auto [start, end] =
                syllableRange(*line.syllables, Syllable, static_cast<int>(line.text.size()));
            if (end > start) {
                QTextLayout::FormatRange range;
                range.start = start;
                range.length = end - start;
                range.format.setForeground(kSyllableColor);
                marked.append(range);
            }
        }
        layout.draw(&painter, origin, marked);
    }
}

void TLyricBox::mouseReleaseEvent(QMouseEvent* event) {
    QFrame::mouseReleaseEvent(event);
    // A press dragged off the box and released elsewhere is not a click on it.
    if (event->button() == Qt::RightButton && rect().contains(event->position().toPoint())) {
        emit OnRButtonClick(this, event->button(), event->modifiers(), event->position().toPoint());
    }
}

void TLyricBox::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double-click on the lyrics must not reach the panel underneath.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QFrame::mouseDoubleClickEvent(event);
}

}  // namespace lyrics
