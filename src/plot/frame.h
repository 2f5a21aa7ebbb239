#pragma once

#include "profile.h"

#include <QList>
#include <QPointF>
#include <QRectF>

#include <optional>

// What one picture of the profile holds: the points of each series for the
// stretch of chainage shown, cut down to what the pixels can show, and the
// mapping between values and the plot area. Plain functions of the profile,
// so that what the chart draws can be checked without a window.
namespace plot {

// Where the plot area lies and what its axes show.
struct PlotGeometry
{
    QRectF area{0, 0, 1000, 500}; // the plot area, in the chart's coordinates
    Interval chainage;            // the x axis, km
    Interval potential;           // the left axis, V
    Interval current;             // the right axis, mA

    double xOf(double km) const;
    double yOf(double value, const Interval &axis) const;
    double kmAt(double x) const;
};

// The points the series show for one geometry. A line is a list of runs:
// a blank value ends a run, so no segment crosses it.
struct ProfileFrame
{
    QList<QList<QPointF>> calculated; // U_ras, in volts
    QList<QList<QPointF>> leakage;    // I_opory, in mA
    QList<QPointF> measured;          // U_izmer markers
    QList<QPointF> overLimit;         // I_opory markers over the leakage limit
    int supportsShown = 0;            // Supports within the chainage shown
};

// Markers are a few pixels wide: one per square of this many pixels is
// enough to show every place a marker stands.
inline constexpr int kMarkerCell = 3;

// The frame of a geometry. Lines keep, per pixel column and run, the first,
// the lowest, the highest and the last point, and the nearest point outside
// the stretch on either side (so they run to the edges): every pixel a full
// drawing of a line would touch is drawn. Markers keep one point per square
// of kMarkerCell pixels.
ProfileFrame makeFrame(const Profile &profile, const PlotGeometry &geometry);

// The Support whose drawn point (U_ras, U_izmer or I_opory) lies nearest to
// a position of the plot area, within the given distance in pixels; its index.
std::optional<int> supportAt(const Profile &profile, const PlotGeometry &geometry, QPointF position,
                             double reach = 6);

// The stretch of chainage shown, within the whole Section: wheel and keys
// zoom it, dragging pans it. It never leaves the Section nor grows past it,
// and never narrows below a metre.
class ChainageWindow
{
public:
    static constexpr double kNarrowest = 0.001; // km

    void setWhole(const Interval &whole);
    const Interval &whole() const { return m_whole; }
    const Interval &shown() const { return m_shown; }
    bool showsWhole() const { return m_shown == m_whole; }

    void showWhole() { m_shown = m_whole; }
    // Shows the stretch between two chainages (in any order).
    void show(double from, double to);
    // factor < 1 zooms in, > 1 out; the chainage at anchor stays where it is.
    void zoom(double anchor, double factor);
    // Moves the stretch by a distance in km (positive: on along the line).
    void pan(double distance);

private:
    void place(double min, double span);

    Interval m_whole;
    Interval m_shown;
};

} // namespace plot
