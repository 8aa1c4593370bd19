#pragma once

class QPainter;
class QWidget;

/// Draws the style's focus rectangle just inside a widget, for the controls whose style shows
/// no focus of its own (a scroll bar, a drawing surface): a keyboard user sees where the keys go.
void drawFocusFrame(QPainter& painter, const QWidget& widget);
