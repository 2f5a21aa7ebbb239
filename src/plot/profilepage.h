#pragma once

#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>

class QChart;
class QPainter;
class QPaintDevice;
class QPrinter;

// The profile as a page: the report's title lines (with the Section's name)
// centred over the chart, written to a PNG, SVG or PDF file or sent to a
// printer. The chart is drawn as the window shows it, the stretch shown
// included.
namespace plot {

enum class PageFormat { Png, Svg, Pdf };

// "PNG (*.png);;SVG (*.svg);;PDF (*.pdf)", for the save dialog.
QString pageFilters();
// The format a file is written in: its suffix, when it names one, else the
// filter chosen (and then the filter's suffix is appended to the path).
std::optional<PageFormat> pageFormat(QString &path, const QString &selectedFilter);

// Where the title lines and the chart go on a page.
struct PageLayout
{
    QRectF title;
    QRectF chart;
};
// A page of the given size, the title over the chart, with a margin all round.
PageLayout layoutPage(const QRectF &page, const QStringList &titleLines, QPaintDevice *device, double margin);
// The page of a PNG or SVG file: the chart at its size on screen, the title over it.
PageLayout imageLayout(const QChart &chart, const QStringList &titleLines);

// Paints the page onto a painter that is already active.
void paintPage(QPainter &painter, const PageLayout &layout, const QStringList &titleLines, QChart &chart);

// Writes the page to a file through QSaveFile: PNG and SVG at the chart's
// size on screen, PDF on an A4 landscape sheet. The empty text on success,
// else why it failed (the file is then left as it was).
QString writePage(const QString &path, PageFormat format, const QStringList &titleLines, QChart &chart);

// Prints the page on the sheet of a printer that has been set up (the print
// dialog answered; A4 landscape unless the user chose otherwise there). The
// empty text on success, else why not.
QString printPage(QPrinter &printer, const QStringList &titleLines, QChart &chart);

} // namespace plot
