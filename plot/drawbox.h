#pragma once

#include <QWidget>

namespace plot {
class PlotModel;
}

/// The drawing surface of the plot. It has the frame's size and paints the part of the
/// (possibly very wide) box that the frame shows, from the model's points.
class DrawBox : public QWidget {
    Q_OBJECT

public:
    explicit DrawBox(QWidget* parent = nullptr);

    void setModel(const plot::PlotModel* model);

    /// The model changed: repaint with the next frame. Asking again before that frame costs
    /// nothing, which matters when a burst plots a thousand samples between two frames.
    void modelChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const plot::PlotModel* m_model = nullptr;
    bool m_repaintAsked = false;
};
