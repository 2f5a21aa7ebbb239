#pragma once

#include "frame.h"

#include <QChart>

class QGraphicsSimpleTextItem;
class QLineSeries;
class QValueAxis;

namespace plot {

// The chart of a Section's profile: the chainage along the bottom, the
// potentials on the left axis (the calculated one as a line, the measured
// one as markers), the leakage current on the right axis as a line with red
// markers over the limit, and the limit itself as a dashed red line. The
// series hold only what the plot area's pixels can show of the stretch
// shown (see makeFrame); a line broken by blank values is drawn as several
// series of one name, only the first of them in the legend.
class ProfileChart : public QChart
{
    Q_OBJECT
public:
    ProfileChart();
    ~ProfileChart() override;

    // The profile drawn (not owned; it must outlive its use here). Another
    // Section shows whole; a new reading of the same one keeps the stretch.
    void setProfile(const Profile *profile, bool anotherSection);
    const Profile &profile() const { return *m_profile; }

    // The stretch of chainage shown.
    const ChainageWindow &stretch() const { return m_stretch; }
    void showWhole();
    void showStretch(double from, double to);
    void zoom(double anchorKm, double factor);
    void pan(double km);

    // The plot area and its axes' ranges, in the chart's coordinates.
    PlotGeometry geometry() const;
    const ProfileFrame &frame() const { return m_frame; }

    // A text over the plot area (no calculated values, a failed reading);
    // empty: none.
    void setNotice(const QString &text);
    QString notice() const;

    QValueAxis *axisChainage = nullptr;
    QValueAxis *axisPotential = nullptr;
    QValueAxis *axisCurrent = nullptr;
    QLineSeries *measuredSeries = nullptr;  // "Замер U", markers only
    QLineSeries *overLimitSeries = nullptr; // the red markers of "Ток утечки"
    QLineSeries *limitSeries = nullptr;        // "Предел 40 мА"
    // The runs of "Расчетное U" and of "Ток утечки"; the first of each is in the legend.
    const QList<QLineSeries *> &calculatedSeries() const { return m_calculated; }
    const QList<QLineSeries *> &leakageSeries() const { return m_leakage; }

signals:
    // The stretch shown changed (zoom, pan, another profile).
    void stretchChanged();

private:
    void stack();
    void fillRuns(QList<QLineSeries *> &pool, const QList<QList<QPointF>> &runs, bool markers);
    void setAxes();
    void redraw();
    void placeNotice();

    const Profile *m_profile;
    Profile m_none;
    ChainageWindow m_stretch;
    ProfileFrame m_frame;
    QList<QLineSeries *> m_calculated;
    QList<QLineSeries *> m_leakage;
    QGraphicsSimpleTextItem *m_notice = nullptr;
};

} // namespace plot
