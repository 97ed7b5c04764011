// The gallery: every control of the main window in each of its states, side by side, so
// that anyone on the team can look at them.
//
//   cvkgallery [--screenshot FILE.png]

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <vector>

#include "BarBox.h"
#include "Filestat.h"
#include "Ledbuton.h"
#include "MonitorBtn.h"
#include "Ownbuton.h"
#include "Pictures.h"
#include "Recbtn.h"
#include "Recslidr.h"
#include "SmBmpBtn.h"
#include "Timebox.h"
#include "Trecesed.h"
#include "Trkbar.h"
#include "Vledrow.h"
#include "Vslider.h"

#include "GalleryLyrics.h"

namespace {

// A row of the gallery: a caption, then the control in each state with a caption under it.
class Row {
public:
    Row(QGridLayout* grid, int row, const QString& title) : m_grid(grid), m_row(row) {
        auto* caption = new QLabel(title);
        caption->setStyleSheet("color: #d8d8d8; font-weight: bold;");
        m_grid->addWidget(caption, row * 2, 0, 2, 1, Qt::AlignLeft | Qt::AlignVCenter);
    }
    void add(QWidget* control, const QString& state) {
        // Controls keep the size they have on the main window, whatever the grid offers.
        if (control->minimumSize() != control->maximumSize()) {
            control->setFixedSize(control->sizeHint());
        }
        ++m_column;
        m_grid->addWidget(control, m_row * 2, m_column, Qt::AlignCenter);
        auto* label = new QLabel(state);
        label->setStyleSheet("color: #a0a0a0; font-size: 9pt;");
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        m_grid->addWidget(label, m_row * 2 + 1, m_column, Qt::AlignHCenter | Qt::AlignTop);
    }

private:
    QGridLayout* m_grid;
    int m_row;
    int m_column = 0;
};

TSimpleBmpButton* pictureButton(const QString& name, bool enabled, bool paused = false) {
    auto* button = new TSimpleBmpButton;
    button->SetUpImage(controls::picture(name + "Up"));
    button->SetDownImage(controls::picture(name + "Down"));
    button->SetDisImage(controls::picture(name + "Disabled"));
    button->SetPauseButton(paused);
    button->SetPaused(paused);
    button->SetEnabled(enabled);
    return button;
}

template <typename Slider>
Slider* slider(int position, int lo = 0, int hi = 127) {
    auto* control = new Slider;
    control->SetLoLimit(lo);
    control->SetHiLimit(hi);
    control->SetCurrentPos(position);
    return control;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString screenshot;
    for (int i = 1; i < argc; ++i) {
        if (QString(argv[i]) == "--screenshot" && i + 1 < argc) {
            screenshot = QString::fromLocal8Bit(argv[++i]);
        }
    }

    QWidget window;
    window.setWindowTitle("Cantivo controls");
    window.setStyleSheet("background-color: #3a3a3c;");
    auto* grid = new QGridLayout(&window);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(2);
    int row = 0;

    // Every picture button enabled, pressed (latched down) and disabled.
    const std::vector<std::pair<QString, std::vector<const char*>>> groups = {
        {"Transport", {"Play", "Pause", "Stop", "Rewind", "FastForward", "Open"}},
        {"Performance", {"SavePerformance", "ClearPerformance"}},
        {"Lyric bar", {"LyricNormalSize", "LyricMaximize", "LyricFullScreen", "LyricFont", "LyricColour",
                       "LyricZoomIn", "LyricZoomOut"}}};
    for (const auto& [group, names] : groups) {
        for (int state = 0; state < 3; ++state) {
            Row buttons(grid, row++, state == 0 ? group : state == 1 ? "  pressed" : "  disabled");
            for (const char* name : names) {
                buttons.add(pictureButton(name, state != 2, state == 1),
                            QString(name).remove("Performance").remove("Lyric"));
            }
        }
    }
    {
        Row voice(grid, row++, "Voice");
        for (int state = 0; state < 3; ++state) {
            auto* record = new TRecBmpButton;
            record->SetUpImage(controls::picture("RecordUp"));
            record->SetDownImage(controls::picture("RecordDown"));
            record->SetDisabledImage(controls::picture("RecordDisabled"));
            record->SetOnImage(controls::picture("RecordOn"));
            record->SetRecording(state == 1);
            record->SetEnabled(state != 2);
            voice.add(record, state == 0 ? "Record" : state == 1 ? "Recording" : "Record disabled");
        }
        for (bool on : {false, true}) {
            auto* monitor = new TMonitorButton;
            monitor->SetUpImage(controls::picture("MonitorOn"));
            monitor->SetOffImage(controls::picture("MonitorOff"));
            monitor->SetDownImage(controls::picture("MonitorDown"));
            monitor->SetDisImage(controls::picture("MonitorDisabled"));
            monitor->SetStateOn(on);
            voice.add(monitor, on ? "Monitor on" : "Monitor off");
        }
    }
    {
        Row leds(grid, row++, "LED buttons");
        const std::vector<std::pair<TLedButtonType, QString>> colours = {
            {TLedButton::redLedButton, "red"},
            {TLedButton::greenLedButton, "green"},
            {TLedButton::yellowLedButton, "yellow"},
            {TLedButton::blueLedButton, "blue"}};
        for (const auto& [type, colour] : colours) {
            for (bool on : {false, true}) {
                auto* led = new TLedButton;
                led->setFixedSize(20, 20);
                led->SetLedType(type);
                led->SetState(on);
                leds.add(led, colour + (on ? " on" : " off"));
            }
        }
        for (auto type : {TOwnButton::infoButton, TOwnButton::notesButton}) {
            auto* button = new TOwnButton;
            button->setFixedSize(22, 22);
            button->SetOwnType(type);
            leds.add(button, type == TOwnButton::infoButton ? "info" : "instrument");
        }
    }
    {
        Row sliders(grid, row++, "Sliders");
        for (int position : {0, 32, 64, 100, 127}) {
            auto* control = slider<TVSlider>(position);
            sliders.add(control, QString("%1: %2").arg(position).arg(control->toolTip()));
        }
        for (int position : {0, 63}) {
            auto* control = slider<TRecSlider>(position, 0, 63);
            sliders.add(control, QString("rec %1").arg(position));
        }
        for (int position : {0, 10, 11, 250, 500}) {
            auto* control = slider<TEchoTrackbar>(position, 0, 500);
            sliders.add(control, QString("echo %1: %2").arg(position).arg(control->toolTip()));
        }
    }
    {
        Row meters(grid, row++, "LED meters");
        for (int level : {0, 3, 6, 9, 12, 16}) {
            auto* meter = new TVLEDRow;
            meter->SetLevel(level);
            meters.add(meter, QString("level %1").arg(level));
        }
        auto* panel = new TRecessedPanel;
        panel->setFixedSize(40, 40);
        meters.add(panel, "recessed panel");
    }
    {
        Row boxes(grid, row++, "Displays");
        auto* bars = new TBarBox;
        bars->SetPosition(12, 3, 240);
        boxes.add(bars, "bar 12, beat 3, tick 240");
        auto* blank = new TBarBox;
        blank->SetPosition(1000, 0, 0);
        boxes.add(blank, "out of range");
        auto* time = new TTimeBox;
        time->SetTime(7, 3);
        boxes.add(time, "3:07");
    }
    {
        Row files(grid, row++, "File status");
        for (auto loaded : {TFileStatusBox::midiKaraoke, TFileStatusBox::performance, TFileStatusBox::none}) {
            auto* status = new TFileStatusBox;
            status->SetFileLoaded(loaded);
            files.add(status, TFileStatusBox::captionName(loaded));
        }
    }
    {
        auto* caption = new QLabel("Lyric box");
        caption->setStyleSheet("color: #d8d8d8; font-weight: bold;");
        grid->addWidget(caption, row * 2, 0, Qt::AlignLeft | Qt::AlignTop);
        grid->addWidget(gallery::makeLyricBox(&window), row * 2, 1, 2, 6, Qt::AlignLeft);
        ++row;
    }

    window.show();
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(500, &window, [&] {
            const bool saved = window.grab().save(screenshot, "PNG");
            std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(screenshot));
            app.exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
