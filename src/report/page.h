#pragma once

#include <QColor>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <vector>

class QPainter;

// One generated page of the report as a small display list: white fills,
// boxes and text runs, in the order they are drawn, with every position in
// millimetres from the paper's top-left corner. One renderer paints it on any
// painter, so the preview at any zoom, the printer, PDF and the page file all
// show the very same page.
namespace report {

struct PageFont
{
    QString family;
    double pointSize = 10;
    bool bold = false;
    bool italic = false;
    bool underline = false;

    friend bool operator==(const PageFont &, const PageFont &) = default;
};

struct PageItem
{
    enum Kind : quint8 { Fill = 0, Box = 1, Text = 2 };

    Kind kind = Fill;
    QRectF rect;        // millimetres
    QRgb colour = 0;    // fill colour; the text colour of a text run
    quint16 font = 0;   // index into the page's font table (text runs)
    quint16 alignment = 0; // Qt::Alignment of a text run within its rect, and Qt::TextDontClip
    QString text;       // one line, already split, wrapped and clipped

    friend bool operator==(const PageItem &, const PageItem &) = default;
};

struct ReportPage
{
    QSizeF paper{210.0, 297.0}; // millimetres
    std::vector<PageFont> fonts;
    std::vector<PageItem> items;

    // The index of the font in the table, adding it when it is new.
    quint16 fontIndex(const PageFont &font);
    void fill(const QRectF &rect, QRgb colour);
    void box(const QRectF &rect);
    // flags: Qt::Alignment and Qt::TextDontClip
    void text(const QRectF &rect, const PageFont &font, int flags, const QString &line, QRgb colour);

    // The texts of the page in drawing order (for checks and searches).
    QStringList texts() const;
    // A rough figure of the memory the page holds.
    qsizetype memoryBytes() const;

    friend bool operator==(const ReportPage &, const ReportPage &) = default;
};

// Paints the page with its top-left paper corner at the painter's origin,
// pixelsPerMm device pixels to the millimetre. Fonts are sized for the
// painter's device, so the text keeps its size relative to the page at any
// resolution and zoom.
void renderPage(QPainter &painter, const ReportPage &page, double pixelsPerMm);

// Paints the page scaled to fit a target of the given size in device pixels
// (a printer's paper), keeping its proportions; a page that already has the
// target's size is painted at its own scale.
void renderPageFitted(QPainter &painter, const ReportPage &page, const QSizeF &targetPixels, double pixelsPerMm);

} // namespace report
