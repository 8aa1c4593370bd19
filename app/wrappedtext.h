#pragma once

#include <QString>

/// The widest line a console of 80 columns shows without an empty line after it: a line that
/// fills the last column leaves the cursor waiting there, and its line end adds a blank line.
constexpr int kConsoleLineWidth = 79;

/// Text with every line longer than width wrapped: at the last space that fits, each further
/// line with the indent of the line it continues; a word longer than that is broken.
QString wrapLines(const QString& text, int width = kConsoleLineWidth);
