#include "profileview.h"

#include "profilechart.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWheelEvent>

#include <cmath>

namespace plot {

namespace {

constexpr double kWheelStep = 0.8; // the stretch per notch of the wheel
constexpr double kKeyZoom = 0.5;   // "+" halves the stretch, "-" doubles it
constexpr double kKeyPan = 0.2;    // Left and Right move by a fifth of it

} // namespace

ProfileView::ProfileView(ProfileChart *chart, QWidget *parent)
    : QChartView(chart, parent), m_chart(chart), m_band(new QRubberBand(QRubberBand::Rectangle, viewport()))
{
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::NoRubberBand);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    m_band->hide();
}

QPointF ProfileView::toChart(QPoint viewportPosition) const
{
    return m_chart->mapFromScene(mapToScene(viewportPosition));
}

int ProfileView::supportAt(QPoint viewportPosition) const
{
    const std::optional<int> index = plot::supportAt(m_chart->profile(), m_chart->geometry(), toChart(viewportPosition));
    return index.value_or(-1);
}

QPointF ProfileView::positionOf(double km, double value, bool onCurrentAxis) const
{
    const PlotGeometry g = m_chart->geometry();
    const QPointF inChart(g.xOf(km), g.yOf(value, onCurrentAxis ? g.current : g.potential));
    return mapFromScene(m_chart->mapToScene(inChart));
}

QRect ProfileView::bandRect(QPoint to) const
{
    const QRectF area = m_chart->mapRectToScene(m_chart->plotArea());
    const QRect plot = mapFromScene(area).boundingRect();
    const int left = std::clamp(std::min(m_pressedAt.x(), to.x()), plot.left(), plot.right());
    const int right = std::clamp(std::max(m_pressedAt.x(), to.x()), plot.left(), plot.right());
    return QRect(QPoint(left, plot.top()), QPoint(right, plot.bottom()));
}

void ProfileView::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        event->ignore();
        return;
    }
    const double anchor = m_chart->geometry().kmAt(toChart(event->position().toPoint()).x());
    m_chart->zoom(anchor, std::pow(kWheelStep, notches));
    event->accept();
}

void ProfileView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    m_pressedAt = m_lastAt = event->position().toPoint();
    m_moved = false;
    m_drag = event->modifiers().testFlag(Qt::ShiftModifier) ? Drag::Band : Drag::Pan;
    if (m_drag == Drag::Band) {
        m_band->setGeometry(bandRect(m_pressedAt));
        m_band->show();
    }
    event->accept();
}

void ProfileView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (m_drag == Drag::None) {
        const int index = supportAt(at);
        if (index != m_pointed || index >= 0)
            emit supportPointed(index, event->globalPosition().toPoint());
        m_pointed = index;
        event->accept();
        return;
    }
    if (!m_moved && (at - m_pressedAt).manhattanLength() >= QApplication::startDragDistance())
        m_moved = true;
    if (m_drag == Drag::Band) {
        m_band->setGeometry(bandRect(at));
    } else if (m_moved) {
        const PlotGeometry g = m_chart->geometry();
        m_chart->pan(-(at.x() - m_lastAt.x()) / g.area.width() * g.chainage.span());
        m_lastAt = at;
    }
    event->accept();
}

void ProfileView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_drag == Drag::None) {
        event->accept();
        return;
    }
    const Drag drag = std::exchange(m_drag, Drag::None);
    const QPoint at = event->position().toPoint();
    if (drag == Drag::Band) {
        m_band->hide();
        const QRect band = bandRect(at);
        if (m_moved && band.width() >= 3) {
            const PlotGeometry g = m_chart->geometry();
            m_chart->showStretch(g.kmAt(toChart(band.topLeft()).x()), g.kmAt(toChart(band.topRight()).x()));
        }
    } else if (!m_moved) {
        if (const int index = supportAt(at); index >= 0)
            emit supportClicked(index);
    }
    event->accept();
}

void ProfileView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && supportAt(event->position().toPoint()) < 0)
        m_chart->showWhole();
    event->accept();
}

void ProfileView::keyPressEvent(QKeyEvent *event)
{
    const Interval &shown = m_chart->stretch().shown();
    const double centre = (shown.min + shown.max) / 2;
    switch (event->key()) {
    case Qt::Key_Home:
        m_chart->showWhole();
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up:
        m_chart->zoom(centre, kKeyZoom);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Down:
        m_chart->zoom(centre, 1 / kKeyZoom);
        break;
    case Qt::Key_Left:
        m_chart->pan(-kKeyPan * shown.span());
        break;
    case Qt::Key_Right:
        m_chart->pan(kKeyPan * shown.span());
        break;
    default:
        QChartView::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool ProfileView::viewportEvent(QEvent *event)
{
    // The scene would answer the tooltip request with no text, taking away
    // the Support's tooltip shown on the move.
    if (event->type() == QEvent::ToolTip && m_pointed >= 0)
        return true;
    return QChartView::viewportEvent(event);
}

void ProfileView::leaveEvent(QEvent *event)
{
    if (m_pointed >= 0)
        emit supportPointed(-1, QPoint());
    m_pointed = -1;
    QChartView::leaveEvent(event);
}

} // namespace plot
