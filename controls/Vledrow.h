#pragma once

#include <QColor>
#include <QPixmap>
#include <QPoint>

#include "Trecesed.h"

// A column of 19 LEDs on a recessed panel: a track's activity or the voice level.
class TVLEDRow : public TRecessedPanel {
    Q_OBJECT
    Q_PROPERTY(int Level READ Level WRITE SetLevel NOTIFY LevelChanged)

public:
    static constexpr int LedCount = 19;
    enum class LedColour { Green, Yellow, Red };

    // Levels beyond the meter's ends show as empty or full.
    static int clampLevel(int value);
    // LED i counts 1..19 from the bottom.
    static LedColour colourOf(int led);
    static bool isLit(int led, int level) { return led <= level; }
    static QPoint ledPosition(int led) { return {4, 82 - 4 * led}; }
    static QColor ledColour(LedColour colour, bool lit);
    // The area every LED lies in: the only part a level change repaints.
    static QRect ledArea();
    // The shared picture of one LED, built on first use and kept for the program's life.
    static QPixmap ledPicture(LedColour colour, bool lit);

    explicit TVLEDRow(QWidget* parent = nullptr);

    int Level() const { return m_level; }
    void SetLevel(int value);

    QSize sizeHint() const override { return {20, 86}; }

signals:
    void LevelChanged(int level);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_level = 0;
};
