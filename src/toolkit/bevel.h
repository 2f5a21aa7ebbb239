#pragma once

#include <QWidget>

namespace toolkit {

// A classic bevel: a box or a single rule drawn with a lit and a shaded
// edge, raised or lowered, one pixel per edge. The header panel over the
// support grid is built from these; they draw nothing else and take no input.
class Bevel : public QWidget
{
    Q_OBJECT
public:
    enum class Shape { Box, TopLine, BottomLine, LeftLine, RightLine };
    enum class Style { Lowered, Raised };

    explicit Bevel(Shape shape, Style style, QWidget *parent = nullptr);

    Shape shape() const { return m_shape; }
    Style bevelStyle() const { return m_style; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Shape m_shape;
    Style m_style;
};

} // namespace toolkit
