#pragma once

#include <QPixmap>
#include <QWidget>
#include <array>

// The song position as bar:beat:tick, in orange digits on a front-panel background.
class TBarBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int bar READ bar NOTIFY PositionChanged)
    Q_PROPERTY(int beat READ beat NOTIFY PositionChanged)
    Q_PROPERTY(int tick READ tick NOTIFY PositionChanged)

public:
    // Left edges of the digit faces: bar (3), beat (2), tick (3).
    static constexpr std::array<int, 3> BarX{6, 16, 26};
    static constexpr std::array<int, 2> BeatX{54, 64};
    static constexpr std::array<int, 3> TickX{92, 102, 112};
    static constexpr int DigitY = 6;

    explicit TBarBox(QWidget* parent = nullptr);

    int bar() const { return m_bar; }
    int beat() const { return m_beat; }
    int tick() const { return m_tick; }

    // Called twenty times a second while a song plays: an unchanged position costs nothing,
    // a new one is drawn at once.
    void SetPosition(int bar, int beat, int tick);

    QSize sizeHint() const override { return {130, 36}; }

signals:
    void PositionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bar = 0;
    int m_beat = 0;
    int m_tick = 0;
    std::array<QPixmap, 10> m_digits;
    QPixmap m_colon;
    QPixmap m_barLabel;
    QPixmap m_beatLabel;
    QPixmap m_tickLabel;
    QPixmap m_background;
};
