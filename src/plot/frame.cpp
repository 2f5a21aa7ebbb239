#include "frame.h"

#include <algorithm>
#include <cmath>

namespace plot {

double PlotGeometry::xOf(double km) const
{
    return area.left() + (km - chainage.min) / chainage.span() * area.width();
}

double PlotGeometry::yOf(double value, const Interval &axis) const
{
    return area.bottom() - (value - axis.min) / axis.span() * area.height();
}

double PlotGeometry::kmAt(double x) const
{
    return chainage.min + (x - area.left()) / area.width() * chainage.span();
}

namespace {

// The points of one line series: runs of non-blank values, each cut down to
// the first, lowest, highest and last point of every pixel column.
class LineBuilder
{
public:
    LineBuilder(const std::vector<ProfileSupport> &supports, double ProfileSupport::*value)
        : m_supports(supports), m_value(value)
    {
    }

    void add(int index, int column)
    {
        const double v = m_supports[std::size_t(index)].*m_value;
        if (isBlank(v)) {
            endRun();
            return;
        }
        if (m_bucket && m_bucket->column != column)
            flush();
        if (!m_bucket) {
            m_bucket = Bucket{column, index, index, index, index};
            return;
        }
        Bucket &b = *m_bucket;
        b.last = index;
        if (v < m_supports[std::size_t(b.low)].*m_value)
            b.low = index;
        if (v > m_supports[std::size_t(b.high)].*m_value)
            b.high = index;
    }

    QList<QList<QPointF>> take()
    {
        endRun();
        return std::move(m_runs);
    }

private:
    struct Bucket
    {
        int column, first, low, high, last;
    };

    void flush()
    {
        if (!m_bucket)
            return;
        int kept[] = {m_bucket->first, m_bucket->low, m_bucket->high, m_bucket->last};
        std::sort(std::begin(kept), std::end(kept));
        int *end = std::unique(std::begin(kept), std::end(kept));
        for (int *i = kept; i != end; ++i) {
            const ProfileSupport &s = m_supports[std::size_t(*i)];
            m_run.append(QPointF(s.km, s.*m_value));
        }
        m_bucket.reset();
    }

    void endRun()
    {
        flush();
        if (!m_run.isEmpty())
            m_runs.append(std::move(m_run));
        m_run = {};
    }

    const std::vector<ProfileSupport> &m_supports;
    double ProfileSupport::*m_value;
    std::optional<Bucket> m_bucket;
    QList<QPointF> m_run;
    QList<QList<QPointF>> m_runs;
};

// The markers of one series: one point per square of kMarkerCell pixels.
class MarkerBuilder
{
public:
    void add(const ProfileSupport &s, double value, int column, double y)
    {
        column /= kMarkerCell;
        if (column != m_column) {
            m_column = column;
            m_rows.clear();
        }
        const int row = int(std::floor(y / kMarkerCell));
        if (std::find(m_rows.begin(), m_rows.end(), row) != m_rows.end())
            return;
        m_rows.push_back(row);
        m_points.append(QPointF(s.km, value));
    }

    QList<QPointF> take() { return std::move(m_points); }

private:
    int m_column = std::numeric_limits<int>::min();
    std::vector<int> m_rows;
    QList<QPointF> m_points;
};

} // namespace

ProfileFrame makeFrame(const Profile &profile, const PlotGeometry &g)
{
    ProfileFrame frame;
    const std::vector<ProfileSupport> &supports = profile.supports();
    const int count = int(supports.size());
    if (count == 0 || !(g.chainage.span() > 0))
        return frame;
    const int width = std::max(1, int(std::lround(g.area.width())));
    const int first = profile.lowerBound(g.chainage.min);
    int last = first; // one past the last Support within the stretch
    while (last < count && supports[std::size_t(last)].km <= g.chainage.max)
        ++last;
    frame.supportsShown = last - first;

    auto columnOf = [&](int index) {
        if (index < first)
            return -1;
        if (index >= last)
            return width;
        const double at = (supports[std::size_t(index)].km - g.chainage.min) / g.chainage.span() * width;
        return std::clamp(int(std::floor(at)), 0, width - 1);
    };

    LineBuilder calculated(supports, &ProfileSupport::calculated);
    LineBuilder leakage(supports, &ProfileSupport::leakage);
    MarkerBuilder measured;
    MarkerBuilder overLimit;
    // The lines take the nearest Support outside the stretch on either side.
    const int from = std::max(0, first - 1);
    const int to = std::min(count, last + 1);
    for (int i = from; i < to; ++i) {
        const int column = columnOf(i);
        calculated.add(i, column);
        leakage.add(i, column);
        if (i < first || i >= last)
            continue;
        const ProfileSupport &s = supports[std::size_t(i)];
        if (!isBlank(s.measured))
            measured.add(s, s.measured, column, g.yOf(s.measured, g.potential));
        if (s.overLimit())
            overLimit.add(s, s.leakage, column, g.yOf(s.leakage, g.current));
    }
    frame.calculated = calculated.take();
    frame.leakage = leakage.take();
    frame.measured = measured.take();
    frame.overLimit = overLimit.take();
    return frame;
}

std::optional<int> supportAt(const Profile &profile, const PlotGeometry &g, QPointF position, double reach)
{
    const std::vector<ProfileSupport> &supports = profile.supports();
    if (supports.empty() || !(g.chainage.span() > 0) || !(g.area.width() > 0))
        return std::nullopt;
    const double left = g.kmAt(position.x() - reach);
    const double right = g.kmAt(position.x() + reach);
    std::optional<int> best;
    double bestDistance = reach;
    for (int i = profile.lowerBound(left); i < int(supports.size()) && supports[std::size_t(i)].km <= right; ++i) {
        const ProfileSupport &s = supports[std::size_t(i)];
        const double x = g.xOf(s.km);
        const std::pair<double, const Interval *> drawn[] = {
            {s.calculated, &g.potential}, {s.measured, &g.potential}, {s.leakage, &g.current}};
        for (const auto &[value, axis] : drawn) {
            if (isBlank(value))
                continue;
            const double distance = std::hypot(x - position.x(), g.yOf(value, *axis) - position.y());
            if (distance <= bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
    }
    return best;
}

void ChainageWindow::setWhole(const Interval &whole)
{
    const bool wasWhole = showsWhole();
    m_whole = whole;
    if (wasWhole)
        m_shown = whole;
    else
        place(m_shown.min, m_shown.span());
}

void ChainageWindow::place(double min, double span)
{
    span = std::clamp(span, std::min(kNarrowest, m_whole.span()), m_whole.span());
    // Against an end, the stretch ends exactly there (no rounding left over).
    if (span >= m_whole.span())
        m_shown = m_whole;
    else if (min <= m_whole.min)
        m_shown = {m_whole.min, m_whole.min + span};
    else if (min + span >= m_whole.max)
        m_shown = {m_whole.max - span, m_whole.max};
    else
        m_shown = {min, min + span};
}

void ChainageWindow::show(double from, double to)
{
    place(std::min(from, to), std::abs(to - from));
}

void ChainageWindow::zoom(double anchor, double factor)
{
    const double span = std::clamp(m_shown.span() * factor, std::min(kNarrowest, m_whole.span()), m_whole.span());
    const double t = (anchor - m_shown.min) / m_shown.span();
    place(anchor - t * span, span);
}

void ChainageWindow::pan(double distance)
{
    place(m_shown.min + distance, m_shown.span());
}

} // namespace plot
