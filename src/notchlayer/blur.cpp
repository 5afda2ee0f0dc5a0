#include "notchlayer/blur.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace velline {

namespace {

// Box widths whose three passes approximate a Gaussian of standard deviation sigma.
std::array<int, 3> gaussianBoxes(double sigma) {
    const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double m =
        (12 * sigma * sigma - 3.0 * lower * lower - 12.0 * lower - 9) / (-4.0 * lower - 4);
    const int smaller = static_cast<int>(std::lround(m));
    std::array<int, 3> boxes{};
    for (int i = 0; i < 3; ++i)
        boxes[static_cast<size_t>(i)] = std::max(1, i < smaller ? lower : upper);
    return boxes;
}

// One running-sum box pass over every line of an 8-bit image, horizontally or vertically.
void boxPass(QImage& img, int box, bool horizontal) {
    const int radius = box / 2;
    if (radius <= 0)
        return;
    const int lines = horizontal ? img.height() : img.width();
    const int length = horizontal ? img.width() : img.height();
    const qsizetype stride = img.bytesPerLine();
    uchar* bits = img.bits();
    std::vector<uchar> line(static_cast<size_t>(length));
    for (int l = 0; l < lines; ++l) {
        const auto at = [&](int i) -> uchar& {
            return horizontal ? bits[l * stride + i] : bits[i * stride + l];
        };
        for (int i = 0; i < length; ++i)
            line[static_cast<size_t>(i)] = at(i);
        int sum = 0;
        const auto value = [&](int i) {
            return (i < 0 || i >= length) ? 0 : int(line[static_cast<size_t>(i)]);
        };
        for (int i = -radius; i <= radius; ++i)
            sum += value(i);
        const int width = 2 * radius + 1;
        for (int i = 0; i < length; ++i) {
            at(i) = static_cast<uchar>((sum + width / 2) / width);
            sum += value(i + radius + 1) - value(i - radius);
        }
    }
}

} // namespace

void blurAlpha(QImage& alpha, double sigma) {
    if (alpha.isNull() || alpha.format() != QImage::Format_Alpha8 || !(sigma > 0))
        return;
    for (int box : gaussianBoxes(sigma)) {
        boxPass(alpha, box, true);
        boxPass(alpha, box, false);
    }
}

} // namespace velline
