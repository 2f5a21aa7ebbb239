#include "bandengine.h"

#include <cmath>

namespace report {

namespace {

constexpr double kReferenceDpi = 1200.0;
constexpr double kBandLeftMm = kMarginTenths / 10.0;
constexpr double kBandWidthMm = (kPaperWidthTenths - 2 * kMarginTenths) / 10.0;
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kTextColour = qRgb(0, 0, 0);

int roundTenths(double tenths)
{
    return int(std::nearbyint(tenths)); // the default rounding mode: ties to even
}

PageFont pageFont(const QFont &font)
{
    PageFont f;
    f.family = font.family();
    f.pointSize = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    f.bold = font.bold();
    f.italic = font.italic();
    f.underline = font.underline();
    return f;
}

} // namespace

int unitsToTenths(int units)
{
    return roundTenths(units * kMmPerUnit * 10.0);
}

TextMeasure::TextMeasure() : m_reference(1, 1, QImage::Format_RGB32), m_mmPerPixel(25.4 / kReferenceDpi)
{
    const int dotsPerMetre = int(std::lround(kReferenceDpi / 0.0254));
    m_reference.setDotsPerMeterX(dotsPerMetre);
    m_reference.setDotsPerMeterY(dotsPerMetre);
}

const QFontMetricsF &TextMeasure::metrics(const QFont &font)
{
    for (auto &[f, m] : m_cache)
        if (f == font)
            return *m;
    QFont measured = font;
    measured.setHintingPreference(QFont::PreferNoHinting);
    m_cache.emplace_back(font, std::make_unique<QFontMetricsF>(measured, &m_reference));
    return *m_cache.back().second;
}

double TextMeasure::widthMm(const QFont &font, const QString &text)
{
    return metrics(font).horizontalAdvance(text) * m_mmPerPixel;
}

double TextMeasure::heightMm(const QFont &font)
{
    return metrics(font).height() * m_mmPerPixel;
}

double TextMeasure::lineSpacingMm(const QFont &font)
{
    return metrics(font).lineSpacing() * m_mmPerPixel;
}

namespace {

void wrapLine(QString line, const QFont &font, double width, TextMeasure &measure, QStringList &out)
{
    while (!line.isEmpty()) {
        if (measure.widthMm(font, line) <= width) {
            out << line;
            return;
        }
        // The longest head that ends after a space or a hyphen and fits.
        qsizetype cut = -1;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const QChar c = line.at(i);
            if (c != u' ' && c != u'-')
                continue;
            QString head = line.left(i + 1);
            while (head.endsWith(u' '))
                head.chop(1);
            if (measure.widthMm(font, head) <= width)
                cut = i + 1;
            else
                break;
        }
        if (cut > 0) {
            QString head = line.left(cut);
            while (head.endsWith(u' ') && head.size() > 1)
                head.chop(1);
            out << head;
            line = line.mid(cut);
            continue;
        }
        // A single word wider than the element: break it between characters,
        // keeping at least one character on each line so the loop ends.
        qsizetype n = 1;
        while (n < line.size() && measure.widthMm(font, line.left(n + 1)) <= width)
            ++n;
        out << line.left(n);
        line = line.mid(n);
    }
}

} // namespace

QStringList layoutLines(const QString &text, const QFont &font, double widthMm, TextMeasure &measure)
{
    QString clean = text;
    clean.remove(u'\n');
    const QStringList parts = clean.split(u'\r');
    QStringList lines;
    for (const QString &part : parts) {
        if (widthMm < 0 || part.isEmpty())
            lines << part;
        else
            wrapLine(part, font, widthMm, measure, lines);
    }
    return lines;
}

PageSink::~PageSink() = default;

BandEngine::BandEngine(PageSink &sink, QRBand *pageHeader, QRBand *columnHeader, QRBand *pageFooter, TextOf textOf)
    : m_sink(sink), m_pageHeader(pageHeader), m_columnHeader(columnHeader), m_pageFooter(pageFooter),
      m_textOf(std::move(textOf))
{
}

void BandEngine::printBand(QRBand *band)
{
    if (!m_pageOpen) {
        beginPage();
    } else if (band->BandType() != QRBandType::PageFooter) {
        const int footer = m_pageFooter ? unitsToTenths(m_pageFooter->Height) : 0;
        const int room = kPaperLengthTenths - kMarginTenths - footer - m_position;
        const int height = unitsToTenths(band->Height);
        if (room < height && height <= kPaperLengthTenths - 2 * kMarginTenths) {
            endPage();
            beginPage();
        }
    }
    draw(band);
}

void BandEngine::finish()
{
    if (m_pageOpen)
        endPage();
}

void BandEngine::beginPage()
{
    ++m_pageNumber;
    m_page = ReportPage();
    m_page.paper = QSizeF(kPaperWidthTenths / 10.0, kPaperLengthTenths / 10.0);
    m_pageOpen = true;
    m_position = kMarginTenths;
    if (m_pageHeader)
        draw(m_pageHeader);
    if (m_pageNumber > 1 && m_columnHeader)
        draw(m_columnHeader);
}

void BandEngine::endPage()
{
    if (m_pageFooter) {
        m_position = kPaperLengthTenths - kMarginTenths - unitsToTenths(m_pageFooter->Height);
        draw(m_pageFooter);
    }
    m_pageOpen = false;
    m_sink.pageFinished(std::move(m_page), m_pageNumber);
    m_page = ReportPage();
}

void BandEngine::draw(QRBand *band)
{
    const double topMm = m_position / 10.0;
    m_page.fill(QRectF(kBandLeftMm, topMm, kBandWidthMm, band->Height * kMmPerUnit), kWhite);
    for (QRPrintable *element : band->elements())
        drawElement(element, topMm);
    m_position += unitsToTenths(band->Height);
}

void BandEngine::drawElement(QRPrintable *element, double bandTopMm)
{
    double x = kBandLeftMm + element->Left * kMmPerUnit;
    const double y = bandTopMm + element->Top * kMmPerUnit;
    double w = element->Width * kMmPerUnit;
    const double h = element->Height * kMmPerUnit;

    if (element->kind() == QRPrintable::Kind::Shape) {
        m_page.box(QRectF(x, y, w, h));
        return;
    }

    const QString text = m_textOf ? m_textOf(element, m_pageNumber) : QString();
    // An empty data text draws nothing, not even its background.
    if (element->kind() == QRPrintable::Kind::DBText && text.isEmpty())
        return;
    const QFont &font = element->Font;
    const QStringList lines = layoutLines(text, font, element->AutoSize ? -1.0 : w, m_measure);

    Qt::Alignment horizontal = element->Alignment & Qt::AlignHorizontal_Mask;
    if (element->AutoSize) {
        double widest = 0;
        for (const QString &line : lines)
            widest = std::max(widest, m_measure.widthMm(font, line));
        if (element->CentreOnBand)
            x = kBandLeftMm + (kBandWidthMm - widest) / 2.0;
        else if (horizontal & Qt::AlignRight)
            x = x + w - widest;
        else if (horizontal & Qt::AlignHCenter)
            x = x + (w - widest) / 2.0;
        w = widest;
    }

    m_page.fill(QRectF(x, y, w, h), kWhite);
    const PageFont pf = pageFont(font);
    const double lineHeight = m_measure.heightMm(font);
    const double spacing = m_measure.lineSpacingMm(font);
    // A text that takes its own size may come out a hair wider on a device
    // other than the reference; it must not lose its last glyph to the clip.
    const int flags = int(horizontal) | Qt::AlignTop | (element->AutoSize ? int(Qt::TextDontClip) : 0);
    for (int i = 0; i < lines.size(); ++i) {
        const double top = y + i * spacing;
        if (top + lineHeight > y + h + 1e-9)
            break; // lines that would reach below the element are not printed
        if (lines[i].isEmpty())
            continue;
        m_page.text(QRectF(x, top, w, lineHeight), pf, flags, lines[i], kTextColour);
    }
}

} // namespace report
