#pragma once

class QPainter;
class QWidget;

/// Draws a frame in the highlight colour just inside a widget, for the controls whose style
/// shows no focus of its own (a scroll bar, the chart, the response field): a keyboard user
/// sees where the keys go.
void drawFocusFrame(QPainter& painter, const QWidget& widget);
