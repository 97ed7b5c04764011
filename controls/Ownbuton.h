#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>

#include "Trecesed.h"

// A small push button with a picture: the instrument button of a track strip.
class TOwnButton : public TRecessedPanel {
    Q_OBJECT
    Q_PROPERTY(TOwnButtonType OwnType READ OwnType WRITE SetOwnType NOTIFY OwnTypeChanged)
    Q_PROPERTY(int BitPosX READ BitPosX WRITE SetBitPosX NOTIFY BitPosXChanged)
    Q_PROPERTY(int BitPosY READ BitPosY WRITE SetBitPosY NOTIFY BitPosYChanged)

public:
    enum TOwnButtonType { infoButton, notesButton };
    Q_ENUM(TOwnButtonType)

    // The shared picture of a button type: "info" or "notes".
    static QString pictureName(TOwnButtonType type);

    explicit TOwnButton(QWidget* parent = nullptr);

    TOwnButtonType OwnType() const { return m_ownType; }
    int BitPosX() const { return m_bitPos.x(); }
    int BitPosY() const { return m_bitPos.y(); }
    bool isPressed() const { return m_pressed; }

    void SetOwnType(TOwnButtonType value);
    void SetBitPosX(int value);
    void SetBitPosY(int value);

    QSize sizeHint() const override { return {20, 20}; }

signals:
    void OnClick();
    void OwnTypeChanged(TOwnButton::TOwnButtonType ownType);
    void BitPosXChanged(int bitPosX);
    void BitPosYChanged(int bitPosY);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TOwnButtonType m_ownType = infoButton;
    QPoint m_bitPos{3, 3};
    bool m_pressed = false;
};

using TOwnButtonType = TOwnButton::TOwnButtonType;
