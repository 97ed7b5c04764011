#pragma once

// A lowered frame drawn over its parent without a background: the frame of a track strip.

#include <QWidget>

class TBevel : public QWidget {
    Q_OBJECT

public:
    explicit TBevel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
