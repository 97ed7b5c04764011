#include <QAbstractButton>
#include <QImage>
#include <QLabel>

#include <cmath>
#include <map>

#include "CantivoHarness.h"
#include "SpinButton.h"

using namespace testing_support;
using cvkapp::TCantivo;

namespace {

// Relative luminance of a screen colour (sRGB), as contrast ratios are reckoned.
double luminance(QRgb pixel) {
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(pixel)) + 0.7152 * channel(qGreen(pixel)) +
           0.0722 * channel(qBlue(pixel));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What a widget shows: its commonest colour (the face) and the colour that stands out
// most from it (the arrow or the text).
struct Look {
    QRgb face;
    QRgb mark;
    std::map<QRgb, int> counts;
    double ratio() const { return contrast(face, mark); }
};

Look lookOf(QWidget* widget) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    Look look{};
    std::map<QRgb, int>& counts = look.counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y) | 0xFF000000];
        }
    }
    int most = 0;
    for (const auto& [colour, count] : counts) {
        if (count > most) {
            most = count;
            look.face = colour;
        }
    }
    look.mark = look.face;
    for (const auto& [colour, count] : counts) {
        if (contrast(look.face, colour) > look.ratio()) {
            look.mark = colour;
        }
    }
    return look;
}

class PanelColourTest : public CantivoTest {};

// Guards against spin arrows that fade into the panel, or that look livelier disabled.
TEST_F(PanelColourTest, EnabledSpinArrowsStandOutAndDisabledOnesRecede) {
    open();
    std::vector<double> disabled;
    for (cvkapp::TSpinButton* spin : {window().TempoSpin, window().KeySpin, window().VolSpin}) {
        ASSERT_FALSE(spin->isEnabled());
        disabled.push_back(lookOf(spin->upButton()).ratio());
    }
    openSong(song("song.kar", karaokeSong({"la", "la"})));
    int i = 0;
    for (cvkapp::TSpinButton* spin : {window().TempoSpin, window().KeySpin, window().VolSpin}) {
        ASSERT_TRUE(spin->isEnabled());
        for (QAbstractButton* arrow : {spin->upButton(), spin->downButton()}) {
            const double enabled = lookOf(arrow).ratio();
            EXPECT_GE(enabled, 4.5) << "spin " << i;
            EXPECT_LT(disabled[static_cast<std::size_t>(i)], enabled / 2) << "spin " << i;
        }
        ++i;
    }
}

// Guards against the Tempo, Key and Volume displays losing their black face to a panel
// colour.
TEST_F(PanelColourTest, DisplaysAreOrangeOnBlack) {
    open();
    for (QLabel* display : {window().TempoDisplay, window().KeyDisplay, window().VolumeDisplay}) {
        Look look = lookOf(display);
        EXPECT_EQ(look.face, qRgb(0, 0, 0)) << display->text().toStdString();
        EXPECT_GT(look.counts[qRgb(255, 159, 0)], 0) << display->text().toStdString();
    }
}

}  // namespace
