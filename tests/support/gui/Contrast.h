#pragma once

#include <QColor>
#include <cmath>

// Relative luminance and contrast ratio as the WCAG define them: 4.5 is the floor for body text,
// 3 for large text and symbols.
inline double relativeLuminance(const QColor& colour) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

inline double contrastRatio(double luminanceA, double luminanceB) {
    return (std::max(luminanceA, luminanceB) + 0.05) / (std::min(luminanceA, luminanceB) + 0.05);
}

inline double contrastRatio(const QColor& a, const QColor& b) {
    return contrastRatio(relativeLuminance(a), relativeLuminance(b));
}
