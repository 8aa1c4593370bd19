#include "tolvekvariant.h"

WindowDifferences tolvekDifferences() {
    WindowDifferences differences;
    differences.caption = "Basic Communications";
    differences.applicationTitle = "Zel_Connect";
    differences.iconResource = {}; // none of its own
    differences.clientHeightTwips = 8565;
    // No plot, no calibration, no test run and its timer, no color label.
    differences.leftOut = {"cmdClearDrawBox", "cmdDraw", "cmdCal",     "Timer1",  "cmdGo",
                           "DrawBoxFrame",    "DrawBox", "DrawSclBar", "lblColor"};
    differences.changes = {
        {{"StatusBar1"}, TwipsRect{0, 8310, 8235, 255}, std::nullopt},
        {{"txtResponse"}, TwipsRect{960, 840, 5655, 3765}, std::nullopt},
        {{"Frame1"}, TwipsRect{840, 4680, 3615, 615}, std::nullopt},
        {{"TextCal"}, TwipsRect{5400, 4920, 2055, 285}, std::nullopt},
        {{"Frame2"}, TwipsRect{6720, 1680, 1455, 3015}, std::nullopt},
        {{"functOption", 0}, TwipsRect{120, 360, 855, 255}, QStringLiteral("Avg")},
        {{"functOption", 1}, TwipsRect{120, 720, 975, 255}, QStringLiteral("TotalDiff")},
        {{"functOption", 2}, TwipsRect{120, 1080, 855, 255}, QStringLiteral("Option3")},
    };
    differences.startMethod = 0; // "Avg"
    differences.aboutText = "Basic Communications Program Version 0.91";
    differences.enterEmptiesTextLine = false; // Enter sends and keeps the line
    return differences;
}

WindowVariant tolvekVariant() {
    return withDifferences(zelConnectVariant(), tolvekDifferences());
}
