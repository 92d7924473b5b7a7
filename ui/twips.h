#pragma once

// Window designs are measured in twips; on screen 15 twips make one pixel
// (device-independent: Qt's high-DPI scaling multiplies it as needed).

#include <QRect>
#include <QSize>

namespace dlscope {

constexpr int twips(int t) { return t / 15; }
inline QSize twipsSize(int w, int h) { return {twips(w), twips(h)}; }
inline QRect twipsRect(int left, int top, int w, int h) { return {twips(left), twips(top), twips(w), twips(h)}; }

} // namespace dlscope
