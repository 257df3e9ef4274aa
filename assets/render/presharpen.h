#pragma once
// Pictures the player shrinks with its smooth (Mitchell cubic) resize come out soft. Given the
// picture drawn crisply at the size it is shown at, this finds stored pixels whose resize comes
// back as close to that as 8-bit channels allow.
#include <QImage>

namespace lunadio::assets {

// `shown` is the crisp target, `start` the drawing rendered at the stored size (the first guess);
// both straight ARGB32. Returns the stored picture, the size of `start`.
QImage presharpenForResize(const QImage& shown, const QImage& start);

}  // namespace lunadio::assets
