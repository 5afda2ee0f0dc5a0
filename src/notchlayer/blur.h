#pragma once

#include <QImage>

namespace velline {

// Blurs an Alpha8 image in place with a Gaussian of standard deviation `sigma` (three box
// passes each way). The image keeps its size: leave room for the blur around what is drawn.
// Shadows of the notch and glows of its content share this one routine.
void blurAlpha(QImage& alpha, double sigma);

} // namespace velline
