#include "profilechart.h"

#include "data/kortables.h"
#include "data/regionalsettings.h"
#include "toolkit/colors.h"

#include <QGraphicsSimpleTextItem>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QPainter>
#include <QValueAxis>

#include <cmath>

namespace plot {

namespace {

const QColor kCalculatedColour(0, 90, 200);
const QColor kMeasuredColour(0, 40, 120);
const QColor kLeakageColour(220, 120, 0);
constexpr int kMarkerSize = 9;
constexpr double kPadding = 0.02; // of an axis's values, on either side
constexpr int kTicks = 7;          // about as many lines across the potentials and the currents
// Markers on the leakage line once a Support has this many pixels to itself.
constexpr int kPixelsPerMarker = 8;

// A round marker drawn once and stamped by the series (much faster than one
// graphics item per point).
QImage marker(const QColor &fill, const QColor &edge)
{
    QImage image(kMarkerSize * 4, kMarkerSize * 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(edge, 4));
    p.setBrush(fill);
    p.drawEllipse(QRectF(2, 2, image.width() - 4, image.height() - 4));
    return image;
}

// The axes write numbers with the decimal separator the grid uses.
QLocale numberLocale()
{
    const QChar separator = RegionalSettings::instance().decimalSeparator();
    QLocale locale = QLocale::system();
    if (locale.decimalPoint() != QString(separator))
        locale = separator == u',' ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

// 1, 2 or 5 times a power of ten, near raw.
double niceStep(double raw)
{
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / power;
    return (m < 1.5 ? 1 : m < 3 ? 2 : m < 7 ? 5 : 10) * power;
}

QValueAxis *valueAxis(const QString &title, const QString &format)
{
    auto *axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(format);
    return axis;
}

QLineSeries *lineSeries(const QString &name, const QPen &pen)
{
    auto *series = new QLineSeries;
    series->setName(name);
    series->setPen(pen);
    return series;
}

// Markers as a line series without a line, stamped from one image: a
// scatter series would keep a graphics item per point and move each of
// them at every frame.
QLineSeries *markerSeries(const QString &name, const QColor &fill, const QColor &edge)
{
    auto *series = new QLineSeries;
    series->setName(name);
    series->setPen(QPen(fill, 2, Qt::NoPen));
    series->setColor(fill);
    series->setMarkerSize(kMarkerSize);
    series->setLightMarker(marker(fill, edge));
    return series;
}

} // namespace

ProfileChart::ProfileChart() : m_profile(&m_none)
{
    setBackgroundRoundness(0);
    setMargins(QMargins(6, 6, 6, 6));
    legend()->setAlignment(Qt::AlignBottom);
    setLocalizeNumbers(true);
    setLocale(numberLocale());

    // "U, B" with the Latin U and B, as the grid's headings write them.
    axisChainage = valueAxis(QStringLiteral("Пикетаж, км"), QStringLiteral("%.1f"));
    axisChainage->setTickType(QValueAxis::TicksDynamic);
    axisPotential = valueAxis(QStringLiteral("U, B"), QStringLiteral("%.1f"));
    axisCurrent = valueAxis(QStringLiteral("I, мА"), QStringLiteral("%.0f"));
    addAxis(axisChainage, Qt::AlignBottom);
    addAxis(axisPotential, Qt::AlignLeft);
    addAxis(axisCurrent, Qt::AlignRight);

    m_calculated << lineSeries(QStringLiteral("Расчетное U"), QPen(kCalculatedColour, 2));
    measuredSeries = markerSeries(QStringLiteral("Замер U"), kMeasuredColour, kMeasuredColour.darker());
    m_leakage << lineSeries(QStringLiteral("Ток утечки"), QPen(kLeakageColour, 2));
    limitSeries = lineSeries(QStringLiteral("Предел 40 мА"), QPen(toolkit::clRed(), 2, Qt::DashLine));
    overLimitSeries = markerSeries(QStringLiteral("Ток утечки выше предела"), toolkit::clRed(), toolkit::clRed());
    stack();

    m_notice = new QGraphicsSimpleTextItem(this);
    QFont font = m_notice->font();
    font.setPointSize(12);
    font.setBold(true);
    m_notice->setFont(font);
    m_notice->setBrush(QColor(80, 80, 80));
    m_notice->setZValue(1000);
    m_notice->hide();

    connect(this, &QChart::plotAreaChanged, this, [this] {
        redraw();
        placeNotice();
    });
    setProfile(&m_none, true);
}

ProfileChart::~ProfileChart() = default;

// Puts the series into the chart in the order of the legend, the further
// runs of the lines after them (out of the legend) and the red markers last,
// on top of every line.
void ProfileChart::stack()
{
    std::vector<std::pair<QAbstractSeries *, QValueAxis *>> order = {
        {m_calculated.first(), axisPotential}, {measuredSeries, axisPotential}, {m_leakage.first(), axisCurrent},
        {limitSeries, axisCurrent}};
    for (QLineSeries *series : m_calculated.mid(1))
        order.emplace_back(series, axisPotential);
    for (QLineSeries *series : m_leakage.mid(1))
        order.emplace_back(series, axisCurrent);
    order.emplace_back(overLimitSeries, axisCurrent);
    for (const auto &[series, axis] : order)
        if (series->chart())
            removeSeries(series);
    for (std::size_t i = 0; i < order.size(); ++i) {
        auto [series, axis] = order[i];
        addSeries(series);
        series->attachAxis(axisChainage);
        series->attachAxis(axis);
        if (i >= 4)
            for (QLegendMarker *m : legend()->markers(series))
                m->setVisible(false);
    }
}

void ProfileChart::setProfile(const Profile *profile, bool anotherSection)
{
    m_profile = profile ? profile : &m_none;
    setLocale(numberLocale());
    // A little room around the values, so that no marker is cut in half by an axis.
    auto padded = [](const Interval &range, bool below) {
        const double pad = range.span() * kPadding;
        return Interval{range.min - (below || range.min < 0 ? pad : 0), range.max + pad};
    };
    const Interval whole = padded(m_profile->chainage(), true);
    if (anotherSection)
        m_stretch = ChainageWindow();
    m_stretch.setWhole(whole);

    const Interval u = padded(m_profile->potentials(), false);
    axisPotential->setRange(u.min, u.max);
    axisPotential->setTickCount(kTicks);
    axisPotential->applyNiceNumbers();
    const Interval i = padded(m_profile->currents(), false);
    axisCurrent->setRange(i.min, i.max);
    axisCurrent->setTickCount(kTicks);
    axisCurrent->applyNiceNumbers();
    limitSeries->replace({QPointF(whole.min, kLeakageLimitMa), QPointF(whole.max, kLeakageLimitMa)});
    setAxes();
    redraw();
    emit stretchChanged();
}

void ProfileChart::showWhole()
{
    m_stretch.showWhole();
    setAxes();
    redraw();
    emit stretchChanged();
}

void ProfileChart::showStretch(double from, double to)
{
    m_stretch.show(from, to);
    setAxes();
    redraw();
    emit stretchChanged();
}

void ProfileChart::zoom(double anchorKm, double factor)
{
    m_stretch.zoom(anchorKm, factor);
    setAxes();
    redraw();
    emit stretchChanged();
}

void ProfileChart::pan(double km)
{
    m_stretch.pan(km);
    setAxes();
    redraw();
    emit stretchChanged();
}

void ProfileChart::setAxes()
{
    const Interval &shown = m_stretch.shown();
    const double step = niceStep(shown.span() / 8);
    const int decimals = std::clamp(int(std::ceil(-std::log10(step) - 1e-9)), 0, 3);
    axisChainage->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    axisChainage->setTickAnchor(std::floor(shown.min / step) * step);
    // The axis lays out its ticks at each change: go through the coarser of
    // the two in-between states, never a wide range with a fine interval
    // (thousands of ticks for a moment).
    if (step >= axisChainage->tickInterval()) {
        axisChainage->setTickInterval(step);
        axisChainage->setRange(shown.min, shown.max);
    } else {
        axisChainage->setRange(shown.min, shown.max);
        axisChainage->setTickInterval(step);
    }
}

PlotGeometry ProfileChart::geometry() const
{
    PlotGeometry g;
    const QRectF area = plotArea();
    // Before the first layout the frame is cut for a typical window.
    if (area.width() >= 2 && area.height() >= 2)
        g.area = area;
    g.chainage = m_stretch.shown();
    g.potential = {axisPotential->min(), axisPotential->max()};
    g.current = {axisCurrent->min(), axisCurrent->max()};
    return g;
}

void ProfileChart::fillRuns(QList<QLineSeries *> &pool, const QList<QList<QPointF>> &runs, bool markers)
{
    if (pool.size() < runs.size()) {
        while (pool.size() < runs.size())
            pool << lineSeries(pool.first()->name(), pool.first()->pen());
        stack();
    }
    for (int i = 0; i < pool.size(); ++i) {
        const bool used = i < runs.size();
        // A lone value between blanks has no segment: its marker shows it.
        pool[i]->setPointsVisible(used && (markers || runs[i].size() == 1));
        pool[i]->replace(used ? runs[i] : QList<QPointF>());
    }
}

void ProfileChart::redraw()
{
    // Before the first layout there are no pixels to draw on; the layout
    // itself draws (plotAreaChanged).
    if (!(plotArea().width() >= 2 && plotArea().height() >= 2))
        return;
    m_frame = makeFrame(*m_profile, geometry());
    const bool sparse = m_frame.supportsShown * kPixelsPerMarker <= geometry().area.width();
    fillRuns(m_calculated, m_frame.calculated, false);
    fillRuns(m_leakage, m_frame.leakage, sparse);
    measuredSeries->replace(m_frame.measured);
    overLimitSeries->replace(m_frame.overLimit);
}

void ProfileChart::setNotice(const QString &text)
{
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
    placeNotice();
}

QString ProfileChart::notice() const
{
    return m_notice->isVisible() ? m_notice->text() : QString();
}

void ProfileChart::placeNotice()
{
    const QRectF area = plotArea();
    const QRectF text = m_notice->boundingRect();
    m_notice->setPos(area.center() - text.center());
}

} // namespace plot
