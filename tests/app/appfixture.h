#pragma once

// The main window over a real store in a temporary alias, with the scripted
// message boxes, for the window's tests and benchmarks.
#include "app/korozia.h"
#include "support/scripteddialogs.h"
#include "support/tempalias.h"

#include <QTest>

#include <functional>
#include <memory>
#include <optional>

struct SupportValues
{
    double km = 0;
    int number = 1;
    std::optional<double> leakage;   // I_opory
    std::optional<double> measured;  // U_izmer
    std::optional<double> calculated; // U_ras
    std::optional<double> resistance = 200.0;
    QString index;
    QString type;
};

// Writes Sections and Supports straight through a cursor pair of its own,
// before the window opens the tables.
class Seeder
{
public:
    Seeder();
    ~Seeder();
    qint64 addSection(const QString &name);
    // Appends to the Section with the given N_line.
    void addSupport(qint64 section, const SupportValues &values);
    // count Supports at 0.1 km steps; every third one over the leakage limit.
    void addSupports(qint64 section, int count);
    KorTables &db() { return *m_db; }

private:
    std::unique_ptr<KorTables> m_db;
};

class WindowFixture
{
public:
    // Seeds the tables first (before the window opens them), then opens the window.
    explicit WindowFixture(const std::function<void(Seeder &)> &seed = {}, bool show = true);
    ~WindowFixture();

    TForm1 &form() { return *m_form; }
    ScriptedDialogs &dialogs() { return m_dialogs; }
    void open(bool show = true);
    void close();

    TempAlias home;

private:
    ScriptedDialogs m_dialogs;
    std::unique_ptr<TForm1> m_form;
};

// The display row's text in a grid column, through the grid's model.
QString cellText(toolkit::DBGrid *grid, int row, int column);
// The colour of a cell's pixel at an offset from its top-left corner.
QColor cellPixel(toolkit::DBGrid *grid, int row, int column, QPoint offset = QPoint(1, 1));
QImage cellImage(toolkit::DBGrid *grid, int row, int column);
// Every Support in the table, whatever its Section.
int storedSupports();
// The context menu event a right click makes, at a row of the grid.
void openContextMenu(toolkit::DBGrid *grid, int row);
void clickCell(toolkit::DBGrid *grid, int row, int column, Qt::MouseButton button = Qt::LeftButton);
