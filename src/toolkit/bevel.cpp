#include "bevel.h"

#include "colors.h"

#include <QPainter>

namespace toolkit {

Bevel::Bevel(Shape shape, Style style, QWidget *parent) : QWidget(parent), m_shape(shape), m_style(style)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Bevel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QColor lit = clBtnHighlight();
    const QColor shade = clBtnShadow();
    // A raised edge is lit at the top and left; a lowered one the other way round.
    const QColor first = m_style == Style::Raised ? lit : shade;
    const QColor second = m_style == Style::Raised ? shade : lit;
    const int w = width();
    const int h = height();
    switch (m_shape) {
    case Shape::Box:
        p.fillRect(0, 0, w, 1, first);
        p.fillRect(0, 0, 1, h, first);
        p.fillRect(0, h - 1, w, 1, second);
        p.fillRect(w - 1, 0, 1, h, second);
        break;
    case Shape::TopLine:
        p.fillRect(0, 0, w, 1, first);
        p.fillRect(0, 1, w, 1, second);
        break;
    case Shape::BottomLine:
        p.fillRect(0, h - 2, w, 1, first);
        p.fillRect(0, h - 1, w, 1, second);
        break;
    case Shape::LeftLine:
        p.fillRect(0, 0, 1, h, first);
        p.fillRect(1, 0, 1, h, second);
        break;
    case Shape::RightLine:
        p.fillRect(w - 2, 0, 1, h, first);
        p.fillRect(w - 1, 0, 1, h, second);
        break;
    }
}

} // namespace toolkit
