#include "Filestat.h"

#include <QPainter>

#include "Pictures.h"

QString TFileStatusBox::captionName(TFileLoadedType loaded) {
    switch (loaded) {
        case midiKaraoke:
            return QStringLiteral("MIDIKARAOKE");
        case performance:
            return QStringLiteral("PERFORMANCE");
        case none:
            break;
    }
    return QStringLiteral("NONE");
}

TFileStatusBox::TFileStatusBox(QWidget* parent) : QWidget(parent) {
    m_background = controls::picture(QStringLiteral("FILEBACK"));
    for (TFileLoadedType loaded : {midiKaraoke, performance, none}) {
        m_captions[static_cast<std::size_t>(loaded)] = controls::picture(captionName(loaded));
    }
    resize(sizeHint());
}

void TFileStatusBox::SetFileLoaded(TFileLoadedType value) {
    if (value == m_fileLoaded) {
        return;
    }
    m_fileLoaded = value;
    emit FileLoadedChanged(m_fileLoaded);
    update();
}

void TFileStatusBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
    painter.drawPixmap(15, 7, m_captions[static_cast<std::size_t>(m_fileLoaded)]);
}
