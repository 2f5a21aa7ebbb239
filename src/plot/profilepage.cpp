#include "profilepage.h"

#include <QChart>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <cmath>

namespace plot {

namespace {

struct FormatName
{
    PageFormat format;
    const char *suffix;
    const char *filter;
};
const FormatName kFormats[] = {
    {PageFormat::Png, "png", "PNG (*.png)"},
    {PageFormat::Svg, "svg", "SVG (*.svg)"},
    {PageFormat::Pdf, "pdf", "PDF (*.pdf)"},
};

constexpr double kImageMargin = 8;   // pixels
constexpr double kSheetMarginMm = 10;

// The report's title font.
QFont titleFont()
{
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSizeF(12);
    font.setBold(true);
    font.setUnderline(true);
    return font;
}

double millimetres(double mm, const QPaintDevice &device)
{
    return mm / 25.4 * device.logicalDpiX();
}

// The whole image around an image layout.
QSize imageSize(const PageLayout &layout)
{
    return QSize(int(std::ceil(layout.chart.right() + kImageMargin)), int(std::ceil(layout.chart.bottom() + kImageMargin)));
}

// Paints the page on a device and ends the painter: the empty text, or why not.
QString paintOn(QPaintDevice &device, const PageLayout &layout, const QStringList &lines, QChart &chart,
                bool white)
{
    QPainter painter;
    if (!painter.begin(&device))
        return QStringLiteral("рисование не началось");
    if (white)
        painter.fillRect(QRectF(0, 0, device.width(), device.height()), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    paintPage(painter, layout, lines, chart);
    if (!painter.end())
        return QStringLiteral("рисование не завершилось");
    return {};
}

} // namespace

QString pageFilters()
{
    QStringList filters;
    for (const FormatName &f : kFormats)
        filters << QString::fromLatin1(f.filter);
    return filters.join(QStringLiteral(";;"));
}

std::optional<PageFormat> pageFormat(QString &path, const QString &selectedFilter)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const FormatName &f : kFormats)
        if (suffix.compare(QLatin1String(f.suffix), Qt::CaseInsensitive) == 0)
            return f.format;
    for (const FormatName &f : kFormats) {
        if (selectedFilter == QLatin1String(f.filter)) {
            path += QLatin1Char('.') + QLatin1String(f.suffix);
            return f.format;
        }
    }
    return std::nullopt;
}

PageLayout layoutPage(const QRectF &page, const QStringList &titleLines, QPaintDevice *device, double margin)
{
    const QFontMetricsF metrics(titleFont(), device);
    PageLayout layout;
    layout.title = QRectF(page.left() + margin, page.top() + margin, page.width() - 2 * margin,
                          titleLines.size() * metrics.lineSpacing());
    const double top = layout.title.bottom() + margin;
    layout.chart = QRectF(page.left() + margin, top, page.width() - 2 * margin, page.bottom() - margin - top);
    return layout;
}

PageLayout imageLayout(const QChart &chart, const QStringList &titleLines)
{
    QImage screen(1, 1, QImage::Format_ARGB32); // 96 dots per inch, as the screen
    const QFontMetricsF metrics(titleFont(), &screen);
    const QSizeF size = chart.size();
    const double height = titleLines.size() * metrics.lineSpacing() + size.height() + 3 * kImageMargin;
    return layoutPage(QRectF(0, 0, size.width() + 2 * kImageMargin, height), titleLines, &screen, kImageMargin);
}

void paintPage(QPainter &painter, const PageLayout &layout, const QStringList &titleLines, QChart &chart)
{
    painter.save();
    painter.setFont(titleFont());
    painter.setPen(Qt::black);
    const double line = layout.title.height() / std::max<qsizetype>(1, titleLines.size());
    for (int i = 0; i < titleLines.size(); ++i)
        painter.drawText(QRectF(layout.title.left(), layout.title.top() + i * line, layout.title.width(), line),
                         Qt::AlignHCenter | Qt::AlignTop, titleLines[i]);
    painter.restore();
    if (QGraphicsScene *scene = chart.scene())
        scene->render(&painter, layout.chart, chart.sceneBoundingRect(), Qt::KeepAspectRatio);
}

QString writePage(const QString &path, PageFormat format, const QStringList &titleLines, QChart &chart)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QString failure;
    switch (format) {
    case PageFormat::Png: {
        const PageLayout layout = imageLayout(chart, titleLines);
        const QSize size = imageSize(layout);
        QImage image(size, QImage::Format_ARGB32);
        failure = paintOn(image, layout, titleLines, chart, true);
        if (failure.isEmpty() && !image.save(&file, "PNG"))
            failure = QStringLiteral("изображение не записано");
        break;
    }
    case PageFormat::Svg: {
        const PageLayout layout = imageLayout(chart, titleLines);
        const QSize size = imageSize(layout);
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setResolution(96);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(titleLines.join(QLatin1Char(' ')));
        failure = paintOn(svg, layout, titleLines, chart, true);
        break;
    }
    case PageFormat::Pdf: {
        QPdfWriter pdf(&file);
        pdf.setResolution(300);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setTitle(titleLines.join(QLatin1Char(' ')));
        const PageLayout layout =
            layoutPage(QRectF(0, 0, pdf.width(), pdf.height()), titleLines, &pdf, millimetres(kSheetMarginMm, pdf));
        failure = paintOn(pdf, layout, titleLines, chart, false);
        break;
    }
    }
    if (!failure.isEmpty())
        return failure;
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    if (!file.commit())
        return file.errorString();
    return {};
}

QString printPage(QPrinter &printer, const QStringList &titleLines, QChart &chart)
{
    const QRectF page(QPointF(0, 0), printer.pageRect(QPrinter::DevicePixel).size());
    const PageLayout layout = layoutPage(page, titleLines, &printer, millimetres(kSheetMarginMm / 2, printer));
    return paintOn(printer, layout, titleLines, chart, false);
}

} // namespace plot
