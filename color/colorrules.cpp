#include "colorrules.h"

namespace color {

namespace {

ColorRule box(const char* caption, Range red, Range green, Range blue) {
    ColorRule rule;
    rule.kind = ColorRule::Kind::Box;
    rule.caption = QString::fromLatin1(caption);
    rule.red = red;
    rule.green = green;
    rule.blue = blue;
    return rule;
}

ColorRule spreadBand(const char* caption, Range spread) {
    ColorRule rule;
    rule.kind = ColorRule::Kind::SpreadBand;
    rule.caption = QString::fromLatin1(caption);
    rule.spread = spread;
    return rule;
}

ColorRule dominant(const char* caption, Channel channel, double spreadAbove) {
    ColorRule rule;
    rule.kind = ColorRule::Kind::Dominant;
    rule.caption = QString::fromLatin1(caption);
    rule.channel = channel;
    rule.spreadAbove = spreadAbove;
    return rule;
}

std::vector<ColorRule> makeRules() {
    return {
        box("Color White", {3698, 3805}, {3600, 3643}, {3874, 3918}),
        spreadBand("Color Black", {630, 680}),
        dominant("Color Red", Channel::Red, 1000),
        dominant("Color Green", Channel::Green, 1000),
        dominant("Color Blue", Channel::Blue, 1000),
        box("Grid1", {3708, 3755}, {3562, 3627}, {3844, 3919}),
        box("Grid2", {3728, 3762}, {3545, 3592}, {3755, 3799}),
        box("Grid3", {3675, 3716}, {3494, 3542}, {3621, 3677}),
        box("Grid4", {3661, 3705}, {3467, 3510}, {3493, 3550}),
        box("Grid5", {3657, 3695}, {3427, 3468}, {3341, 3383}),
        box("Grid6", {3653, 3743}, {3413, 3459}, {3213, 3257}),
        box("Grid7", {3669, 3709}, {3341, 3403}, {3114, 3156}),
        box("Grid8", {3523, 3576}, {3205, 3248}, {2987, 3003}),
        box("Grid9", {3415, 3424}, {3130, 3161}, {2920, 2974}),
        box("Grid10", {3302, 3341}, {2938, 2970}, {2761, 2805}),
        box("Grid11", {3250, 3266}, {2777, 2813}, {2701, 2715}),
        box("Grid11", {3009, 3060}, {2550, 2608}, {2530, 2592}),
        box("Grid12", {2866, 2879}, {2432, 2452}, {2414, 2432}),
        box("Grid13", {2535, 2537}, {2202, 2214}, {2192, 2205}),
        box("Grid14", {2304, 2305}, {1997, 2008}, {1915, 1982}),
        box("Grid15", {2212, 2231}, {1900, 1922}, {1813, 1920}),
    };
}

bool holds(const ColorRule& rule, double r, double g, double b, double spread) {
    switch (rule.kind) {
    case ColorRule::Kind::Box:
        return InRange(r, rule.red.from, rule.red.to) &&
               InRange(g, rule.green.from, rule.green.to) &&
               InRange(b, rule.blue.from, rule.blue.to);
    case ColorRule::Kind::SpreadBand:
        return InRange(spread, rule.spread.from, rule.spread.to);
    case ColorRule::Kind::Dominant:
        if (!(spread > rule.spreadAbove)) {
            return false;
        }
        switch (rule.channel) {
        case Channel::Red:
            return r > g && r > b;
        case Channel::Green:
            return g > r && g > b;
        case Channel::Blue:
            return b > r && b > g;
        }
    }
    return false;
}

} // namespace

bool InRange(double value, double bound1, double bound2) {
    if (bound1 < bound2) {
        return bound1 <= value && value <= bound2;
    }
    return bound2 <= value && value <= bound1;
}

const std::vector<ColorRule>& colorRules() {
    static const std::vector<ColorRule> rules = makeRules();
    return rules;
}

QString colorCaption(double r, double g, double b, double spread) {
    QString caption = QStringLiteral("Unknown");
    // Every row is evaluated; a later row that holds replaces an earlier one.
    for (const ColorRule& rule : colorRules()) {
        if (holds(rule, r, g, b, spread)) {
            caption = rule.caption;
        }
    }
    return caption;
}

} // namespace color
