#pragma once

#include <QPixmap>
#include <QWidget>
#include <array>

// Which kind of file is loaded: a song, a performance or nothing.
class TFileStatusBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(
        TFileLoadedType FileLoaded READ FileLoaded WRITE SetFileLoaded NOTIFY FileLoadedChanged)

public:
    enum TFileLoadedType { midiKaraoke = 0, performance = 1, none = 2 };
    Q_ENUM(TFileLoadedType)

    // The caption picture for each kind of file.
    static QString captionName(TFileLoadedType loaded);

    explicit TFileStatusBox(QWidget* parent = nullptr);

    TFileLoadedType FileLoaded() const { return m_fileLoaded; }
    void SetFileLoaded(TFileLoadedType value);

    QSize sizeHint() const override { return {200, 24}; }

signals:
    void FileLoadedChanged(TFileLoadedType fileLoaded);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TFileLoadedType m_fileLoaded = midiKaraoke;
    QPixmap m_background;
    std::array<QPixmap, 3> m_captions;
};
