#include "page.h"

#include <QPaintDevice>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace report {

quint16 ReportPage::fontIndex(const PageFont &font)
{
    for (std::size_t i = 0; i < fonts.size(); ++i)
        if (fonts[i] == font)
            return quint16(i);
    fonts.push_back(font);
    return quint16(fonts.size() - 1);
}

void ReportPage::fill(const QRectF &rect, QRgb colour)
{
    PageItem item;
    item.kind = PageItem::Fill;
    item.rect = rect;
    item.colour = colour;
    items.push_back(std::move(item));
}

void ReportPage::box(const QRectF &rect)
{
    PageItem item;
    item.kind = PageItem::Box;
    item.rect = rect;
    item.colour = qRgb(255, 255, 255);
    items.push_back(std::move(item));
}

void ReportPage::text(const QRectF &rect, const PageFont &font, int flags, const QString &line, QRgb colour)
{
    PageItem item;
    item.kind = PageItem::Text;
    item.rect = rect;
    item.colour = colour;
    item.font = fontIndex(font);
    item.alignment = quint16(flags);
    item.text = line;
    items.push_back(std::move(item));
}

QStringList ReportPage::texts() const
{
    QStringList result;
    for (const PageItem &item : items)
        if (item.kind == PageItem::Text)
            result << item.text;
    return result;
}

qsizetype ReportPage::memoryBytes() const
{
    qsizetype bytes = sizeof(ReportPage) + qsizetype(items.capacity() * sizeof(PageItem));
    for (const PageItem &item : items)
        if (!item.text.isEmpty())
            bytes += item.text.capacity() * 2 + 16;
    for (const PageFont &font : fonts)
        bytes += sizeof(PageFont) + font.family.capacity() * 2;
    return bytes;
}

namespace {

QRectF scaled(const QRectF &mm, double k)
{
    return QRectF(mm.x() * k, mm.y() * k, mm.width() * k, mm.height() * k);
}

} // namespace

void renderPage(QPainter &painter, const ReportPage &page, double pixelsPerMm)
{
    // A point size is turned into pixels with the device's own resolution;
    // this factor makes the text as large, relative to the page, as the
    // page is drawn.
    const int dpi = painter.device() ? painter.device()->logicalDpiY() : 96;
    const double fontFactor = pixelsPerMm * 25.4 / (dpi > 0 ? dpi : 96);
    std::vector<QFont> fonts;
    fonts.reserve(page.fonts.size());
    for (const PageFont &f : page.fonts) {
        QFont font(f.family);
        font.setPointSizeF(std::max(0.01, f.pointSize * fontFactor));
        font.setBold(f.bold);
        font.setItalic(f.italic);
        font.setUnderline(f.underline);
        font.setHintingPreference(QFont::PreferNoHinting);
        fonts.push_back(font);
    }

    painter.save();
    QPen outline(Qt::black);
    outline.setWidth(0); // one device pixel, whatever the scale
    outline.setCosmetic(true);
    int currentFont = -1;
    QRgb currentPen = 0;
    bool penSet = false;
    for (const PageItem &item : page.items) {
        const QRectF r = scaled(item.rect, pixelsPerMm);
        switch (item.kind) {
        case PageItem::Fill:
            painter.fillRect(r, QColor::fromRgb(item.colour));
            break;
        case PageItem::Box:
            painter.setPen(outline);
            painter.setBrush(QColor::fromRgb(item.colour));
            painter.drawRect(r);
            penSet = false;
            break;
        case PageItem::Text:
            if (item.font >= fonts.size())
                break;
            if (int(item.font) != currentFont) {
                painter.setFont(fonts[item.font]);
                currentFont = item.font;
            }
            if (!penSet || currentPen != item.colour) {
                painter.setPen(QColor::fromRgb(item.colour));
                currentPen = item.colour;
                penSet = true;
            }
            painter.drawText(r, int(item.alignment) | Qt::TextSingleLine, item.text);
            break;
        }
    }
    painter.restore();
}

void renderPageFitted(QPainter &painter, const ReportPage &page, const QSizeF &targetPixels, double pixelsPerMm)
{
    const double w = page.paper.width() * pixelsPerMm;
    const double h = page.paper.height() * pixelsPerMm;
    double k = 1.0;
    if (w > 0 && h > 0)
        k = std::min(targetPixels.width() / w, targetPixels.height() / h);
    if (std::abs(k - 1.0) < 0.002)
        k = 1.0;
    renderPage(painter, page, pixelsPerMm * k);
}

} // namespace report
