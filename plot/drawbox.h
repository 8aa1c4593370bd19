#pragma once

#include <QWidget>

class QPainter;

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

    /// The model changed; refresh() repaints. Marking it again before then costs nothing,
    /// which matters when a burst plots a thousand samples between two display frames.
    void modelChanged() { m_changed = true; }
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintChart(QPainter& painter) const;

    const plot::PlotModel* m_model = nullptr;
    bool m_changed = false;
};
