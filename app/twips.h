#pragma once

#include <QRect>
#include <QSize>
#include <QtMath>

/// Layout unit of the window: 1/1440 inch, 15 to a device-independent pixel.
constexpr int kTwipsPerPixel = 15;

struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

inline int twipsToPixels(int twips) {
    return qRound(static_cast<double>(twips) / kTwipsPerPixel);
}

inline QRect toPixels(const TwipsRect& r) {
    return {twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width),
            twipsToPixels(r.height)};
}
