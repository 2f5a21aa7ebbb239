#pragma once

#include "elements.h"
#include "quickrep.h"

#include <QObject>

#include <memory>
#include <vector>

class KorTables;

// "Оценка опасности электрокоррозии\rарматуры железобетонных опор контактной
// сети\rпо участку " followed by the Section's name: the report's title.
QString reportTitle(const QString &sectionName);

// The report form (module print): never shown itself, it holds the hazard
// report QuickRep1 with its bands and elements, laid out as the designer
// drew them, and prints Table1 of the program's cursors directly.
class TQRListForm : public QObject
{
    Q_OBJECT
public:
    explicit TQRListForm(KorTables &tables, QObject *parent = nullptr);
    ~TQRListForm() override;

    // The bold rule: every data text of a Support over the leakage limit is
    // printed exactly bold, every other one regular.
    void QRDBText1Print(QRPrintable *sender, QString &Value);

    QuickRep *QuickRep1;

    QRBand *QRBand5; // page header
    QRBand *QRBand3; // title
    QRBand *QRBand2; // column header
    QRBand *QRBand1; // detail
    QRBand *QRBand4; // page footer

    QRSysData *QRSysData2;
    QRLabel *QRLabel8;
    QRShape *QRShape8, *QRShape9, *QRShape10, *QRShape11, *QRShape12, *QRShape13, *QRShape14;
    QRLabel *QRLabel1, *QRLabel2, *QRLabel3, *QRLabel4, *QRLabel5, *QRLabel6, *QRLabel7;
    QRShape *QRShape1, *QRShape2, *QRShape3, *QRShape4, *QRShape5, *QRShape6, *QRShape7;
    QRDBText *QRDBText1, *QRDBText2, *QRDBText3, *QRDBText4, *QRDBText5, *QRDBText6, *QRDBText7, *QRDBText8;
    QRSysData *QRSysData1;

private:
    template <typename T, typename... Args> T *make(QRBand *band, Args &&...args);

    KorTables &m_tables;
    std::vector<std::unique_ptr<QRBand>> m_bands;
    std::vector<std::unique_ptr<QRPrintable>> m_elements;
};
