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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const plot::PlotModel* m_model = nullptr;
};
