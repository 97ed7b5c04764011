#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

#include "SliderMath.h"

class QPainter;

// The volume slider of a track strip, and the base of the voice column's sliders and the
// echo slider: a vertical slider drawn by hand with LoLimit at the bottom.
//
// The limits must differ: every position and hint computation divides by their distance.
class TVSlider : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int LoLimit READ LoLimit WRITE SetLoLimit NOTIFY LoLimitChanged)
    Q_PROPERTY(int HiLimit READ HiLimit WRITE SetHiLimit NOTIFY HiLimitChanged)
    Q_PROPERTY(int CurrentPos READ CurrentPos WRITE SetCurrentPos NOTIFY OnChange)

public:
    explicit TVSlider(QWidget* parent = nullptr);

    int LoLimit() const { return m_loLimit; }
    int HiLimit() const { return m_hiLimit; }
    int CurrentPos() const { return m_currentPos; }

    void SetLoLimit(int value);
    void SetHiLimit(int value);
    void SetCurrentPos(int value);

    // True while the left button holds the thumb.
    bool isDragging() const { return dragging; }
    // Whether the percentage hint may pop up now (the text is toolTip()).
    bool hintShown() const { return m_hintShown; }
    // Where the thumb sits for the slider's present height and limits.
    controls::slider::Geometry sliderGeometry() const;

    QSize sizeHint() const override { return {20, 60}; }

signals:
    void OnChange(int currentPos);
    void LoLimitChanged(int loLimit);
    void HiLimitChanged(int hiLimit);

protected:
    // What sets the members of the family apart.
    struct Look {
        int thumbHeight = 28;
        QColor face{192, 192, 192};
        QColor groove{128, 128, 128};
        int grooveWidth = 1;
        bool showsHints = true;
    };

    TVSlider(const Look& look, QWidget* parent);

    const Look& look() const { return m_look; }
    virtual QString hintFor(int position) const;
    virtual QColor thumbCentre() const;
    // Drawn last, over the thumb whose top edge is at `thumbTop`.
    virtual void paintOverThumb(QPainter& painter, int thumbTop) const;
    // Each class shares one off-screen face among all its sliders.
    virtual QPixmap& sharedFace() const;

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // Sets the hint and whether it shows; the derived classes call it once constructed,
    // when their own hint text is reachable.
    void initHint();

private:
    void leftPress(int y);
    void paintFace(QPainter& painter) const;

    Look m_look;
    int m_loLimit = 0;
    int m_hiLimit = 63;
    int m_currentPos = 31;
    bool dragging = false;
    int grabOffset = 0;
    bool m_hintShown = true;
};
