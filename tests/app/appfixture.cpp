#include "appfixture.h"

#include "store/view.h"

#include <QContextMenuEvent>

Seeder::Seeder() : m_db(std::make_unique<KorTables>())
{
    m_db->open();
}

Seeder::~Seeder() = default;

qint64 Seeder::addSection(const QString &name)
{
    m_db->Table2.Append();
    m_db->Table2Line->SetAsString(name);
    m_db->Table2.Post();
    return m_db->Table2N_line->AsInteger();
}

void Seeder::addSupport(qint64 section, const SupportValues &v)
{
    Table &t = m_db->Table1;
    t.Append();
    m_db->Table1Line->SetAsInteger(section);
    m_db->Table1Kilometr->SetAsFloat(v.km);
    m_db->Table1Nomeropory->SetAsInteger(v.number);
    auto set = [](Field *f, const std::optional<double> &value) {
        if (value)
            f->SetAsFloat(*value);
    };
    set(m_db->Table1I_opory, v.leakage);
    set(m_db->Table1U_izmer, v.measured);
    set(m_db->Table1U_ras, v.calculated);
    set(m_db->Table1R_opory, v.resistance);
    if (!v.index.isEmpty())
        m_db->Table1Index->SetAsString(v.index);
    if (!v.type.isEmpty())
        m_db->Table1Tipopory->SetAsString(v.type);
    t.Post();
}

void Seeder::addSupports(qint64 section, int count)
{
    Table::BulkScope bulk(m_db->Table1);
    m_db->Table1.DisableControls();
    for (int i = 0; i < count; ++i) {
        SupportValues v;
        v.km = i * 0.1;
        v.number = i % 30000;
        v.leakage = i % 3 == 0 ? 55.5 : 12.25;
        v.calculated = 1.5;
        addSupport(section, v);
    }
    m_db->Table1.EnableControls();
}

WindowFixture::WindowFixture(const std::function<void(Seeder &)> &seed, bool show)
{
    if (seed) {
        Seeder seeder;
        seed(seeder);
    }
    open(show);
}

WindowFixture::~WindowFixture()
{
    close();
}

void WindowFixture::open(bool show)
{
    m_form = std::make_unique<TForm1>();
    if (show) {
        m_form->show();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
}

void WindowFixture::close()
{
    m_form.reset();
}

QString cellText(toolkit::DBGrid *grid, int row, int column)
{
    return grid->model()->data(grid->model()->index(row, column)).toString();
}

QImage cellImage(toolkit::DBGrid *grid, int row, int column)
{
    grid->viewport()->repaint();
    return grid->viewport()->grab(grid->cellRect(row, column)).toImage();
}

QColor cellPixel(toolkit::DBGrid *grid, int row, int column, QPoint offset)
{
    return cellImage(grid, row, column).pixelColor(offset);
}

void clickCell(toolkit::DBGrid *grid, int row, int column, Qt::MouseButton button)
{
    QTest::mouseClick(grid->viewport(), button, Qt::NoModifier, grid->cellRect(row, column).center());
}

int storedSupports()
{
    auto file = store::TableFile::open(QStringLiteral("kor"), QStringLiteral("base_kor.db"));
    store::View all(*file);
    return all.count();
}

void openContextMenu(toolkit::DBGrid *grid, int row)
{
    const QPoint at = grid->cellRect(row, 0).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &event);
}
