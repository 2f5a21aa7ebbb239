#pragma once

#include <QChartView>

class QRubberBand;

namespace plot {

class ProfileChart;

// The chart on screen and what the mouse and the keys do to it: the wheel
// zooms the chainage around the pointer, dragging pans it, Shift+dragging
// draws a band and zooms to that stretch, a double-click on the background
// or Home shows the whole Section; "+", "-", Up and Down zoom, Left and
// Right pan. Pointing at a Support's point tells its index, clicking it too.
class ProfileView : public QChartView
{
    Q_OBJECT
public:
    explicit ProfileView(ProfileChart *chart, QWidget *parent = nullptr);

    ProfileChart *profileChart() const { return m_chart; }
    // The Support whose point lies under a position of the viewport; -1: none.
    int supportAt(QPoint viewportPosition) const;
    // Where a value lies in the viewport (potential or current axis).
    QPointF positionOf(double km, double value, bool onCurrentAxis) const;

signals:
    void supportClicked(int index);
    // index -1: the pointer left every point.
    void supportPointed(int index, QPoint globalPosition);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    enum class Drag { None, Pan, Band };

    QPointF toChart(QPoint viewportPosition) const;
    QRect bandRect(QPoint to) const;

    ProfileChart *m_chart;
    QRubberBand *m_band;
    Drag m_drag = Drag::None;
    QPoint m_pressedAt;
    QPoint m_lastAt;
    bool m_moved = false;
    int m_pointed = -1;
};

} // namespace plot
