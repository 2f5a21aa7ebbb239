#pragma once

#include "elements.h"
#include "page.h"

#include <QFontMetricsF>
#include <QImage>

#include <functional>
#include <memory>
#include <vector>

// The report's own band engine: it places bands one below the other on A4
// pages, begins and ends pages with their header and footer, and turns each
// element into the fills, boxes and text runs of the page's display list.
namespace report {

// Page geometry in tenths of a millimetre: positions are counted in tenths
// from the paper's top edge and rounded after each band.
inline constexpr int kPaperWidthTenths = 2100;
inline constexpr int kPaperLengthTenths = 2970;
inline constexpr int kMarginTenths = 127;
inline constexpr double kMmPerUnit = 25.4 / 96.0;

// A length in layout units in tenths of a millimetre, ties to even.
int unitsToTenths(int units);

// Font metrics in millimetres, taken at a high reference resolution without
// hinting, so the layout is the same whatever device the page is drawn on.
class TextMeasure
{
public:
    TextMeasure();
    double widthMm(const QFont &font, const QString &text);
    double heightMm(const QFont &font);      // ascent + descent
    double lineSpacingMm(const QFont &font); // from one line's top to the next

private:
    const QFontMetricsF &metrics(const QFont &font);
    QImage m_reference;
    std::vector<std::pair<QFont, std::unique_ptr<QFontMetricsF>>> m_cache;
    double m_mmPerPixel;
};

// The lines an element prints: the text split at each carriage return (line
// feeds dropped); a fixed-width element (widthMm >= 0) wraps a line wider than
// itself after a space or a hyphen and breaks a word wider than itself between
// characters; an element that takes the size of its text (widthMm < 0) never
// wraps.
QStringList layoutLines(const QString &text, const QFont &font, double widthMm, TextMeasure &measure);

// Receives each page as soon as it is complete.
class PageSink
{
public:
    virtual ~PageSink();
    virtual void pageFinished(ReportPage &&page, int pageNumber) = 0;
};

class BandEngine
{
public:
    // The text an element prints on the band being printed (data texts run
    // their print hook inside it); called just before the element is drawn.
    using TextOf = std::function<QString(QRPrintable *element, int pageNumber)>;

    BandEngine(PageSink &sink, QRBand *pageHeader, QRBand *columnHeader, QRBand *pageFooter, TextOf textOf);

    // Prints a band at the current position: page 1 is begun before the first
    // band; a band that does not fit the room left above the footer ends the
    // page and begins the next one first.
    void printBand(QRBand *band);
    // Ends the last page with its footer.
    void finish();

    int pageNumber() const { return m_pageNumber; }
    int position() const { return m_position; } // tenths of a millimetre

private:
    void beginPage();
    void endPage();
    void draw(QRBand *band);
    void drawElement(QRPrintable *element, double bandTopMm);

    PageSink &m_sink;
    QRBand *m_pageHeader;
    QRBand *m_columnHeader;
    QRBand *m_pageFooter;
    TextOf m_textOf;
    TextMeasure m_measure;
    ReportPage m_page;
    bool m_pageOpen = false;
    int m_pageNumber = 0;
    int m_position = 0;
};

} // namespace report
