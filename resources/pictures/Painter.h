#pragma once

// The picture generator's registry. Each paint_*.cpp file registers the pictures of one
// group of controls; mkpictures paints each at 1x and 2x device pixel ratio and writes
// NAME.png and NAME@2x.png.

#include <QPainter>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

namespace pictures {

struct Picture {
    QString name;                               // resource name, e.g. "BBT_COLON"
    QSize size;                                 // logical size in pixels
    std::function<void(QPainter&, QSize)> paint;  // paints in logical coordinates
};

std::vector<Picture>& registry();

// Registers pictures at static-initialisation time: `static Registration r{{...}};`.
struct Registration {
    explicit Registration(std::vector<Picture> pictures) {
        for (auto& picture : pictures) {
            registry().push_back(std::move(picture));
        }
    }
};

}  // namespace pictures
