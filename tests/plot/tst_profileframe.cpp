// The profile's frames over random Sections: what the pixels can show of a
// line is never lost, no line crosses a blank value, the frame stays small,
// every marker keeps its place; and the stretch shown never leaves the Section.
#include "plot/frame.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <map>
#include <set>

using namespace plot;

namespace {

// A Section of count Supports at strictly rising chainages; each value blank
// with the given chance, the currents often near the limit (40 itself too).
Profile randomProfile(QRandomGenerator &rng, int count, double blankChance)
{
    std::vector<ProfileSupport> supports;
    double km = rng.bounded(100.0);
    auto value = [&](double v) { return rng.generateDouble() < blankChance ? kBlank : v; };
    for (int i = 0; i < count; ++i) {
        km += 0.001 + rng.bounded(0.2);
        ProfileSupport s;
        s.key = i + 1;
        s.km = km;
        s.calculated = value(rng.bounded(20.0) - 5);
        s.measured = value(rng.bounded(20.0) - 5);
        const int kind = rng.bounded(4);
        s.leakage = value(kind == 0 ? 40.0 : kind == 1 ? 40.001 : rng.bounded(80.0));
        supports.push_back(s);
    }
    return Profile(std::move(supports));
}

// Where a Support's point falls: its pixel column (-1 and width outside the stretch).
int columnOf(const PlotGeometry &g, double km, int width)
{
    if (km < g.chainage.min)
        return -1;
    if (km > g.chainage.max)
        return width;
    return std::clamp(int(std::floor((km - g.chainage.min) / g.chainage.span() * width)), 0, width - 1);
}

void checkLine(const Profile &profile, const PlotGeometry &g, const QList<QList<QPointF>> &runs,
               double ProfileSupport::*value)
{
    const std::vector<ProfileSupport> &all = profile.supports();
    const int width = int(std::lround(g.area.width()));
    std::map<double, int> indexOfKm;
    for (int i = 0; i < int(all.size()); ++i)
        indexOfKm[all[std::size_t(i)].km] = i;
    // The raw Supports a drawing of the stretch touches: those within it and
    // the nearest one outside on either side.
    const int first = profile.lowerBound(g.chainage.min);
    int last = first;
    while (last < int(all.size()) && all[std::size_t(last)].km <= g.chainage.max)
        ++last;
    const int from = std::max(0, first - 1);
    const int to = std::min(int(all.size()), last + 1);

    // Every drawn point is a Support's own, no segment passes over a blank.
    int drawn = 0;
    std::map<std::pair<int, int>, std::pair<double, double>> drawnRange; // (column, run) -> min, max
    std::vector<int> runOf(all.size(), -1);
    int run = 0;
    for (int i = from; i < to; ++i) {
        if (isBlank(all[std::size_t(i)].*value))
            ++run;
        else
            runOf[std::size_t(i)] = run;
    }
    for (const QList<QPointF> &points : runs) {
        QVERIFY(!points.isEmpty());
        int previous = -1;
        for (const QPointF &p : points) {
            QVERIFY(indexOfKm.count(p.x()));
            const int i = indexOfKm[p.x()];
            QCOMPARE(p.y(), all[std::size_t(i)].*value);
            QVERIFY2(i >= from && i < to, "a point beyond the neighbours of the stretch");
            if (previous >= 0) {
                QVERIFY(i > previous);
                QCOMPARE(runOf[std::size_t(i)], runOf[std::size_t(previous)]);
            }
            previous = i;
            ++drawn;
            auto [it, fresh] = drawnRange.try_emplace({columnOf(g, p.x(), width), runOf[std::size_t(i)]}, p.y(), p.y());
            it->second = {std::min(it->second.first, p.y()), std::max(it->second.second, p.y())};
        }
    }
    // Per column and run, the lowest and the highest value are drawn.
    std::map<std::pair<int, int>, std::pair<double, double>> rawRange;
    int blanks = 0;
    for (int i = from; i < to; ++i) {
        const double v = all[std::size_t(i)].*value;
        if (isBlank(v)) {
            ++blanks;
            continue;
        }
        auto [it, fresh] = rawRange.try_emplace({columnOf(g, all[std::size_t(i)].km, width), runOf[std::size_t(i)]}, v, v);
        it->second = {std::min(it->second.first, v), std::max(it->second.second, v)};
    }
    QCOMPARE(drawnRange, rawRange);
    // And the frame is cut down: at most four points a column, and a blank
    // splits a column in two at most.
    QVERIFY2(drawn <= 4 * (width + 2 + blanks), qPrintable(QString::number(drawn)));
}

void checkMarkers(const Profile &profile, const PlotGeometry &g, const QList<QPointF> &markers,
                  const Interval &axis, const std::function<std::optional<double>(const ProfileSupport &)> &shown)
{
    const int width = int(std::lround(g.area.width()));
    auto cell = [&](double km, double v) {
        return std::pair(columnOf(g, km, width) / kMarkerCell, int(std::floor(g.yOf(v, axis) / kMarkerCell)));
    };
    std::set<std::pair<int, int>> expected;
    std::set<std::pair<double, double>> raw;
    for (const ProfileSupport &s : profile.supports()) {
        const std::optional<double> v = shown(s);
        if (v && s.km >= g.chainage.min && s.km <= g.chainage.max) {
            expected.insert(cell(s.km, *v));
            raw.insert({s.km, *v});
        }
    }
    std::set<std::pair<int, int>> drawn;
    for (const QPointF &p : markers) {
        QVERIFY2(raw.count({p.x(), p.y()}), "a marker of no Support");
        QVERIFY2(drawn.insert(cell(p.x(), p.y())).second, "two markers on one square");
    }
    QCOMPARE(drawn, expected);
}

} // namespace

class ProfileFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void framesKeepWhatThePixelsShow_data();
    void framesKeepWhatThePixelsShow();
    void theStretchStaysWithinTheSection();
};

void ProfileFrameTest::framesKeepWhatThePixelsShow_data()
{
    QTest::addColumn<int>("supports");
    QTest::addColumn<double>("blankChance");
    QTest::newRow("few, no blanks") << 7 << 0.0;
    QTest::newRow("few, many blanks") << 12 << 0.5;
    QTest::newRow("dense, some blanks") << 3000 << 0.05;
    QTest::newRow("dense, no blanks") << 5000 << 0.0;
    QTest::newRow("all blank") << 300 << 1.0;
}

void ProfileFrameTest::framesKeepWhatThePixelsShow()
{
    QFETCH(int, supports);
    QFETCH(double, blankChance);
    QRandomGenerator rng(quint32(supports * 7919 + int(blankChance * 100)));
    for (int round = 0; round < 40; ++round) {
        const Profile profile = randomProfile(rng, supports, blankChance);
        PlotGeometry g;
        g.area = QRectF(30, 20, 1 + rng.bounded(600), 50 + rng.bounded(400));
        const Interval whole = profile.chainage();
        // Sometimes the whole Section, sometimes a stretch of it, sometimes beyond it.
        const double a = whole.min + (rng.generateDouble() * 1.2 - 0.1) * whole.span();
        const double b = whole.min + (rng.generateDouble() * 1.2 - 0.1) * whole.span();
        g.chainage = round % 3 == 0 ? whole : Interval{std::min(a, b), std::max(a, b) + 1e-3};
        g.potential = profile.potentials();
        g.current = profile.currents();
        const ProfileFrame frame = makeFrame(profile, g);
        checkLine(profile, g, frame.calculated, &ProfileSupport::calculated);
        checkLine(profile, g, frame.leakage, &ProfileSupport::leakage);
        checkMarkers(profile, g, frame.measured, g.potential, [](const ProfileSupport &s) {
            return isBlank(s.measured) ? std::nullopt : std::optional(s.measured);
        });
        // Strictly over 40: neither 40 nor a blank value is marked.
        checkMarkers(profile, g, frame.overLimit, g.current, [](const ProfileSupport &s) {
            return !isBlank(s.leakage) && s.leakage > 40 ? std::optional(s.leakage) : std::nullopt;
        });
        if (QTest::currentTestFailed())
            return;
    }
}

void ProfileFrameTest::theStretchStaysWithinTheSection()
{
    QRandomGenerator rng(42);
    for (int round = 0; round < 200; ++round) {
        ChainageWindow w;
        const double start = rng.bounded(50.0);
        const Interval whole{start, start + (round % 5 == 0 ? 0.0004 : rng.bounded(30.0) + 0.01)};
        w.setWhole(whole);
        QCOMPARE(w.shown(), whole);
        for (int step = 0; step < 30; ++step) {
            const Interval before = w.shown();
            const double anchor = before.min + rng.generateDouble() * before.span();
            switch (rng.bounded(3)) {
            case 0: {
                const double factor = 0.2 + rng.bounded(1.6);
                w.zoom(anchor, factor);
                const double wanted = before.span() * factor;
                // Nothing clamped: the chainage under the pointer stays where it was.
                if (wanted < whole.span() && wanted > ChainageWindow::kNarrowest && w.shown().min > whole.min
                    && w.shown().max < whole.max)
                    QVERIFY2(std::abs((anchor - w.shown().min) / w.shown().span()
                                     - (anchor - before.min) / before.span()) < 1e-6, "the anchor moved");
                break;
            }
            case 1:
                w.pan(rng.bounded(2.0 * whole.span()) - whole.span());
                QVERIFY(std::abs(w.shown().span() - before.span()) < 1e-9 * std::max(1.0, whole.max));
                break;
            default:
                w.show(anchor, whole.min + rng.generateDouble() * whole.span());
            }
            const Interval s = w.shown();
            QVERIFY(s.min >= whole.min && s.max <= whole.max);
            QVERIFY(s.span() >= std::min(ChainageWindow::kNarrowest, whole.span()) * (1 - 1e-9));
        }
        w.showWhole();
        QVERIFY(w.showsWhole());
    }
}

QTEST_GUILESS_MAIN(ProfileFrameTest)
#include "tst_profileframe.moc"
