#pragma once

// The lyric panel of the main window: the song's lyrics a few lines at a time, the line
// being sung always on top with its current syllable in red.

#include <QColor>
#include <QFrame>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "LyricLayout.h"
#include "LyricScan.h"

namespace lyrics {

class TLyricBox : public QFrame {
    Q_OBJECT
    Q_PROPERTY(int tickCount READ tickCount WRITE setTickCount NOTIFY tickCountChanged)
    Q_PROPERTY(int topLine READ topLine NOTIFY positionChanged)
    Q_PROPERTY(int syllable READ syllable NOTIFY positionChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(QColor fontColor READ fontColor WRITE setFontColor NOTIFY fontColorChanged)
    Q_PROPERTY(bool nonEnglishCharacters READ nonEnglishCharacters WRITE
                   setNonEnglishCharacters NOTIFY nonEnglishCharactersChanged)
    Q_PROPERTY(int charSet READ charSet WRITE setCharSet NOTIFY charSetChanged)

public:
    explicit TLyricBox(QWidget* parent = nullptr);

    // Lays `list` out for the current width and font, or shows that there are no lyrics
    // ("For this Song" added when a song is loaded, `noSong` false). The box only reads
    // the list; its owner frees it. The font may come back smaller.
    void SetLyrics(const songfile::TlyricList* list, bool noSong);
    // Shown while a song loads; painted at once, before the load blocks the window.
    void ShowLoading();
    // Back to the first line with nothing marked; on stop and rewind.
    void ResetPosition();

    int tickCount() const { return m_tickCount; }
    // Follows the song position: called by the transport at every timer tick, so it
    // repaints only when the line or syllable changed.
    void setTickCount(int value);

    int topLine() const { return TopLine; }
    int syllable() const { return Syllable; }
    const songfile::TlyricList* lyrics() const { return Lyrics; }
    QStringList lines() const;
    // Syllable starts of a display line; nullptr for the box's own messages.
    const TlyricLine* lineSyllables(int index) const;

    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor& color);
    // Both take effect at the next SetLyrics, as the preferences and font dialogs do.
    bool nonEnglishCharacters() const { return m_nonEnglish; }
    void setNonEnglishCharacters(bool on);
    int charSet() const { return m_charSet; }
    void setCharSet(int charSet);

    // Height of one display line in pixels: the font's em height, lines packed tight.
    int lineHeight() const;
    // Where a line of the given text starts horizontally: centred in the box.
    int lineX(const QString& text) const;
    // How many lines fit, the lowest with its descenders; at most what the em height
    // packs in.
    int visibleLineCount() const;
    // Top of the first visible line: the lines, the lowest one whole, centred.
    int firstLineY() const;

signals:
    void tickCountChanged(int tickCount);
    void positionChanged();
    void colorChanged(const QColor& color);
    void fontColorChanged(const QColor& color);
    void nonEnglishCharactersChanged(bool on);
    void charSetChanged(int charSet);
    void OnRButtonClick(lyrics::TLyricBox* sender, Qt::MouseButton button,
                        Qt::KeyboardModifiers shift, QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void showMessage(QStringList messages);
    void setPosition(LyricPosition position);
    void setTickCountSilently(int value);
    QRect topLineBand() const;

    std::vector<LaidOutLine> Lines;
    const songfile::TlyricList* Lyrics = nullptr;
    int m_tickCount = 0;
    int TopLine = 0;
    int Syllable = -1;
    // The last repaint asked for was the top line only, for a new syllable on it.
    bool PartialPaint = false;
    QColor m_color;
    QColor m_fontColor = Qt::black;
    bool m_nonEnglish = false;
    int m_charSet = 0;
};

}  // namespace lyrics
