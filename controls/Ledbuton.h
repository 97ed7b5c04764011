#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>

#include "Trecesed.h"

// A small push button carrying a coloured LED: the mute and solo switches of the mixer.
// It switches on the press, not the release, so the mixer reacts as soon as the finger
// goes down; a double-click is a second press and switches it back.
class TLedButton : public TRecessedPanel {
    Q_OBJECT
    Q_PROPERTY(TLedButtonType LedType READ LedType WRITE SetLedType NOTIFY LedTypeChanged)
    Q_PROPERTY(int LedPosX READ LedPosX WRITE SetLedPosX NOTIFY LedPosXChanged)
    Q_PROPERTY(int LedPosY READ LedPosY WRITE SetLedPosY NOTIFY LedPosYChanged)
    Q_PROPERTY(bool State READ State WRITE SetState NOTIFY StateChanged)

public:
    enum TLedButtonType { redLedButton, greenLedButton, yellowLedButton, blueLedButton };
    Q_ENUM(TLedButtonType)

    // The shared picture of an LED colour, lit or dark ("SmallRedOn", "SmallBlueOff", ...).
    static QString pictureName(TLedButtonType type, bool on);
    // Where the picture goes: the face's content moves one pixel right and down while pressed.
    static QPoint picturePosition(QPoint position, bool pressed);

    explicit TLedButton(QWidget* parent = nullptr);

    TLedButtonType LedType() const { return m_ledType; }
    int LedPosX() const { return m_ledPos.x(); }
    int LedPosY() const { return m_ledPos.y(); }
    bool State() const { return m_state; }
    bool isPressed() const { return m_pressed; }

    void SetLedType(TLedButtonType value);
    void SetLedPosX(int value);
    void SetLedPosY(int value);
    // Does not fire `OnChange`: code that sets the LED already knows.
    void SetState(bool value);

    QSize sizeHint() const override { return {20, 20}; }

signals:
    // The user switched the LED; `State` already holds the new value.
    void OnChange();
    void LedTypeChanged(TLedButton::TLedButtonType ledType);
    void LedPosXChanged(int ledPosX);
    void LedPosYChanged(int ledPosY);
    void StateChanged(bool state);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TLedButtonType m_ledType = redLedButton;
    QPoint m_ledPos{3, 3};
    bool m_state = false;
    bool m_pressed = false;
};

using TLedButtonType = TLedButton::TLedButtonType;
