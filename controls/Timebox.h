#pragma once

#include <QPixmap>
#include <QWidget>
#include <array>

// The elapsed playing time as mm:ss, in orange digits on a front-panel background.
class TTimeBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int seconds READ seconds NOTIFY TimeChanged)
    Q_PROPERTY(int minutes READ minutes NOTIFY TimeChanged)

public:
    // Left edges of the faces: minutes tens and ones, colon, seconds tens and ones.
    static constexpr std::array<int, 5> FaceX{16, 32, 48, 58, 74};
    static constexpr int DigitY = 8;

    explicit TTimeBox(QWidget* parent = nullptr);

    int seconds() const { return m_seconds; }
    int minutes() const { return m_minutes; }

    // Seconds first, as the sequencer reports them. Seconds are not carried into minutes:
    // the box shows what it is given.
    void SetTime(int seconds, int minutes);

    QSize sizeHint() const override { return {106, 37}; }

signals:
    void TimeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_seconds = 0;
    int m_minutes = 0;
    std::array<QPixmap, 10> m_digits;
    QPixmap m_colon;
    QPixmap m_background;
};
