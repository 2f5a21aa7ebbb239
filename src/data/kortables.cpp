#include "kortables.h"

#include "store/presence.h"

KorTables::KorTables(const QString &alias)
{
    Table2.SetDatabaseName(alias);
    Table2.SetTableName(QStringLiteral("line.db"));
    Table2N_line = Table2.addField(QStringLiteral("Table2N_line"), QStringLiteral("N_line"), FieldKind::AutoInc);
    Table2Line = Table2.addField(QStringLiteral("Table2Line"), QStringLiteral("Line"), FieldKind::Text);
    Table2Line->SetSize(20);

    Table1.SetDatabaseName(alias);
    Table1.SetTableName(QStringLiteral("base_kor.db"));
    Table1.SetIndexName(QStringLiteral("i_line"));
    Table1.SetMasterSource(&DataSource2, QStringLiteral("N_line"));

    Table1I = Table1.addField(QStringLiteral("Table1I"), QStringLiteral("I"), FieldKind::AutoInc);
    Table1Kilometr = Table1.addField(QStringLiteral("Table1Kilometr"), QStringLiteral("Kilometr"), FieldKind::Float);
    Table1Kilometr->SetDisplayFormat(QStringLiteral("0.000"));
    Table1Nomeropory =
        Table1.addField(QStringLiteral("Table1Nomeropory"), QStringLiteral("Nomeropory"), FieldKind::SmallInt);
    Table1Nomeropory->SetRequired(true);
    Table1Index = Table1.addField(QStringLiteral("Table1Index"), QStringLiteral("Index"), FieldKind::Text);
    Table1Index->SetSize(1);
    Table1Tipopory = Table1.addField(QStringLiteral("Table1Tipopory"), QStringLiteral("Tipopory"), FieldKind::Text);
    Table1Tipopory->SetSize(3);
    const QString mask = QStringLiteral("# ##0.0");
    Table1R_opory = Table1.addField(QStringLiteral("Table1R_opory"), QStringLiteral("R_opory"), FieldKind::Float);
    Table1R_opory->SetDisplayFormat(mask);
    Table1U_izmer = Table1.addField(QStringLiteral("Table1U_izmer"), QStringLiteral("U_izmer"), FieldKind::Float);
    Table1U_izmer->SetDisplayFormat(mask);
    Table1U_ras = Table1.addField(QStringLiteral("Table1U_ras"), QStringLiteral("U_ras"), FieldKind::Float);
    Table1U_ras->SetDisplayFormat(mask);
    Table1I_opory = Table1.addField(QStringLiteral("Table1I_opory"), QStringLiteral("I_opory"), FieldKind::Float);
    Table1I_opory->SetDisplayFormat(mask);
    Table1Line = Table1.addField(QStringLiteral("Table1Line"), QStringLiteral("Line"), FieldKind::SmallInt);
}

void KorTables::open()
{
    Table1.SetActive(true);
    Table2.SetActive(true);
    // After the tables: a table the store refuses is named by its own message.
    if (!m_presence)
        m_presence = std::make_shared<store::AliasPresence>(Table1.DatabaseName());
}

QStringList KorTables::unreadableValues() const
{
    QStringList texts;
    for (const Table *table : {&Table1, &Table2})
        if (const QString text = table->unreadableValues(); !text.isEmpty())
            texts << text;
    return texts;
}
