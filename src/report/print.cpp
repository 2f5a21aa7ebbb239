#include "print.h"

#include "data/kortables.h"
#include "toolkit/application.h"

QString reportTitle(const QString &sectionName)
{
    return QStringLiteral("Оценка опасности электрокоррозии\rарматуры железобетонных опор контактной сети\rпо участку ")
           + sectionName;
}

namespace {

QFont reportFont(const QString &family, double points, bool bold = false, bool underline = false)
{
    QFont font(family);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

} // namespace

template <typename T, typename... Args> T *TQRListForm::make(QRBand *band, Args &&...args)
{
    auto element = std::make_unique<T>(std::forward<Args>(args)...);
    T *raw = element.get();
    band->add(raw);
    m_elements.push_back(std::move(element));
    return raw;
}

TQRListForm::TQRListForm(KorTables &tables, QObject *parent) : QObject(parent), m_tables(tables)
{
    // The report names the original families; the stand-ins must be known
    // before the first text is measured.
    toolkit::registerFontSubstitutions();

    auto band = [&](const char *name, QRBandType type, int height) {
        m_bands.push_back(std::make_unique<QRBand>(QString::fromLatin1(name), type, height));
        return m_bands.back().get();
    };
    QRBand5 = band("QRBand5", QRBandType::PageHeader, 33);
    QRBand3 = band("QRBand3", QRBandType::Title, 97);
    QRBand2 = band("QRBand2", QRBandType::ColumnHeader, 24);
    QRBand1 = band("QRBand1", QRBandType::Detail, 20);
    QRBand4 = band("QRBand4", QRBandType::PageFooter, 20);

    const QString times = QStringLiteral("Times New Roman");
    const QString arial = QStringLiteral("Arial");

    // Page header: the date, its right edge at 693.
    QRSysData2 = make<QRSysData>(QRBand5, QStringLiteral("QRSysData2"), QRSysData::Data::Date, 693, 8, 0, 19);
    QRSysData2->Text = QStringLiteral("Отчет от ");
    QRSysData2->Font = reportFont(times, 10);
    QRSysData2->Alignment = Qt::AlignRight;
    QRSysData2->AutoSize = true;

    // Title.
    QRLabel8 = make<QRLabel>(QRBand3, QStringLiteral("QRLabel8"), 0, 12, 0, 69);
    QRLabel8->Font = reportFont(times, 12, true, true);
    QRLabel8->Alignment = Qt::AlignHCenter;
    QRLabel8->AutoSize = true;
    QRLabel8->CentreOnBand = true;

    // Column header and detail: seven columns edge to edge.
    struct Column
    {
        int left;
        int width;
        const char *caption;
    };
    const Column columns[7] = {
        {0, 104, "№ опоры"},     {104, 99, "Тип опоры"},   {203, 99, "Пикетаж"}, {302, 99, "U измереное"},
        {401, 99, "U расчетное"}, {500, 99, "R опоры"},     {599, 99, "I опоры"},
    };
    QRShape **headerBoxes[7] = {&QRShape8, &QRShape9, &QRShape10, &QRShape11, &QRShape12, &QRShape13, &QRShape14};
    QRLabel **captions[7] = {&QRLabel1, &QRLabel2, &QRLabel3, &QRLabel4, &QRLabel5, &QRLabel6, &QRLabel7};
    for (int i = 0; i < 7; ++i) {
        const Column &c = columns[i];
        // One unit taller than the band: the first row's white background covers the overlap.
        *headerBoxes[i] = make<QRShape>(QRBand2, QStringLiteral("QRShape%1").arg(8 + i), c.left, 0, c.width, 25);
        QRLabel *label = make<QRLabel>(QRBand2, QStringLiteral("QRLabel%1").arg(1 + i), c.left + 2, 2, c.width - 4, 20);
        label->SetCaption(QString::fromUtf8(c.caption));
        label->Font = reportFont(times, 12);
        label->Alignment = Qt::AlignHCenter;
        *captions[i] = label;
    }

    QRShape **rowBoxes[7] = {&QRShape1, &QRShape2, &QRShape3, &QRShape4, &QRShape5, &QRShape6, &QRShape7};
    for (int i = 0; i < 7; ++i)
        *rowBoxes[i] = make<QRShape>(QRBand1, QStringLiteral("QRShape%1").arg(1 + i), columns[i].left, 0,
                                     columns[i].width, 20);
    struct DataText
    {
        QRDBText **member;
        Field *field;
        int left;
        int width;
        Qt::Alignment alignment;
    };
    const DataText texts[8] = {
        {&QRDBText1, tables.Table1Nomeropory, 2, 76, Qt::AlignRight},
        {&QRDBText2, tables.Table1Index, 80, 22, Qt::AlignLeft},
        {&QRDBText3, tables.Table1Tipopory, 106, 95, Qt::AlignHCenter},
        {&QRDBText4, tables.Table1Kilometr, 205, 95, Qt::AlignRight},
        {&QRDBText5, tables.Table1U_izmer, 304, 95, Qt::AlignRight},
        {&QRDBText6, tables.Table1U_ras, 403, 95, Qt::AlignRight},
        {&QRDBText7, tables.Table1R_opory, 502, 95, Qt::AlignRight},
        {&QRDBText8, tables.Table1I_opory, 601, 95, Qt::AlignRight},
    };
    for (int i = 0; i < 8; ++i) {
        const DataText &d = texts[i];
        QRDBText *text = make<QRDBText>(QRBand1, QStringLiteral("QRDBText%1").arg(1 + i), d.left, 2, d.width, 17);
        text->DataField = d.field;
        text->Font = reportFont(arial, 10);
        text->Alignment = d.alignment;
        text->OnPrint = [this](QRPrintable *sender, QString &value) { QRDBText1Print(sender, value); };
        *d.member = text;
    }

    // Page footer: the page number, its left edge at 328.
    QRSysData1 = make<QRSysData>(QRBand4, QStringLiteral("QRSysData1"), QRSysData::Data::PageNumber, 328, 1, 0, 17);
    QRSysData1->Font = reportFont(times, 10);
    QRSysData1->Alignment = Qt::AlignLeft;
    QRSysData1->AutoSize = true;

    QuickRep1 = new QuickRep(tables.Table1, this);
    QuickRep1->setObjectName(QStringLiteral("QuickRep1"));
    QuickRep1->setBands(QRBand5, QRBand3, QRBand2, QRBand1, QRBand4);
}

TQRListForm::~TQRListForm()
{
    // The report (and an open preview) go before the elements they print.
    delete QuickRep1;
}

void TQRListForm::QRDBText1Print(QRPrintable *sender, QString &Value)
{
    Q_UNUSED(Value);
    QFont font = sender->Font;
    const bool bold = overLeakageLimit(m_tables.Table1I_opory);
    font.setBold(bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    sender->Font = font;
}
