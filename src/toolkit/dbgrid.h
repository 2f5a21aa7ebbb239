#pragma once

#include "data/datasource.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QTableView>

#include <functional>
#include <optional>

class Field;
class QLineEdit;
#include <QMenu>
class QPainter;

namespace toolkit {

// The options of the classic data-aware grid.
enum class GridOption : unsigned {
    Titles = 0x1,              // a title row over the columns
    Indicator = 0x2,           // a narrow column at the left marking the current record
    Editing = 0x4,             // cells can be edited in place
    AlwaysShowEditor = 0x8,    // the cell editor stays open while the grid has the focus
    ColumnResize = 0x10,       // columns can be widened by dragging the title edge
    ColLines = 0x20,           // 1-pixel lines between columns
    RowLines = 0x40,           // 1-pixel lines between rows
    Tabs = 0x80,               // Tab and Shift+Tab move between cells instead of leaving the grid
    RowSelect = 0x100,         // the whole current row is selected; no cell cursor
    AlwaysShowSelection = 0x200, // the selection shows also without the focus
    ConfirmDelete = 0x400,     // Ctrl+Delete asks "Delete record?" first
    CancelOnExit = 0x800,      // leaving the grid cancels an insertion with nothing entered
};
Q_DECLARE_FLAGS(GridOptions, GridOption)

// How a cell is painted: in the selection colours, and whether it is the
// grid's focused cell.
enum class CellStateFlag : unsigned { Selected = 0x1, Focused = 0x2 };
Q_DECLARE_FLAGS(CellState, CellStateFlag)

// One column of a grid: the field it shows and how.
struct GridColumn
{
    QString fieldName;
    int width = 64;                          // pixels, without the grid line
    std::optional<QFont> font;               // the grid's font when unset
    std::optional<QColor> color;             // the grid's colour when unset
    std::optional<Qt::Alignment> alignment;  // numbers right, text left when unset
    QString title;
    std::optional<QFont> titleFont;          // the grid's title font when unset
};

class DBGrid;

// The grid's item model: one row per display row of the cursor (its records,
// with a record being inserted at its place), one column per grid column. It
// is a link on the grid's data source and follows the cursor's events; while
// the cursor's controls are disabled it hears nothing and the grid stays as
// it was, and it shows everything anew once when they are enabled again.
class DBGridModel : public QAbstractTableModel, public DataLink
{
    Q_OBJECT
public:
    explicit DBGridModel(DBGrid *grid);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void dataEvent(DataEvent event, Field *field) override;

    // The display row the grid shows as current (the cursor's, as of the last event).
    int currentRow() const { return m_currentRow; }
    // The number of times the grid was shown anew from the cursor.
    int refreshCount() const { return m_refreshes; }

private:
    friend class DBGrid;
    void refresh();
    void columnsChanged();

    DBGrid *m_grid;
    int m_rows = 0;
    int m_currentRow = -1;
    int m_refreshes = 0;
};

// A grid over a data source: a table view whose rows are the cursor's
// records and whose current row is always the cursor's current record.
// Keys and clicks move the cursor; the cursor's moves and changes move and
// repaint the grid. Each visible row is read once per paint, through the
// cursor's row scope, so that the per-cell painting hook reads the values
// of the row being painted through the cursor's own field objects.
class DBGrid : public QTableView
{
    Q_OBJECT
public:
    using DrawColumnCellHandler =
        std::function<void(QPainter &painter, const QRect &rect, const GridColumn &column, CellState state)>;
    // Set the key to QChar() to consume it.
    using KeyPressHandler = std::function<void(QChar &key)>;

    explicit DBGrid(QWidget *parent = nullptr);
    ~DBGrid() override;

    void setDataSource(DataSource *source);
    DataSource *dataSource() const;
    Table *table() const;
    // Writes what is typed in the open cell editor into its field, as leaving
    // the grid does (a command about to settle the cursor calls it first).
    void commitEditor() { writePendingText(); }

    void setOptions(GridOptions options);
    GridOptions options() const { return m_options; }
    bool hasOption(GridOption option) const { return m_options.testFlag(option); }

    void setColumns(const QList<GridColumn> &columns);
    const QList<GridColumn> &columns() const { return m_columns; }
    Field *columnField(int column) const;

    // The background of the grid (below the last row and right of the last
    // column) and of every column without a colour of its own.
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    void setTitleFont(const QFont &font);
    QFont titleFont() const { return m_titleFont; }

    // The height of a line of the grid font plus 4 pixels, without the grid line.
    int defaultRowHeight() const;
    void setPopupMenu(QMenu *menu) { m_popupMenu = menu; }
    QMenu *popupMenu() const { return m_popupMenu; }

    // The column of the current cell (with row selection it only matters to Tab).
    int selectedIndex() const { return m_selectedColumn; }
    void setSelectedIndex(int column);
    bool editorMode() const;
    QLineEdit *inplaceEditor() const { return m_editor; }
    // Rows wholly visible in the grid; the first of them.
    int visibleRowCount() const;
    int topRow() const;
    // A data cell's rectangle in the viewport, without its grid lines.
    QRect cellRect(int row, int column) const;
    DBGridModel *gridModel() const { return m_model; }

    // Called for every data cell after the default painting, with the
    // cursor's fields reading the row being painted and the painter's font,
    // pen and brush as the default painting left them.
    DrawColumnCellHandler OnDrawColumnCell;
    // Enter and the printable characters, before the grid acts on them.
    KeyPressHandler OnKeyPress;
    std::function<void()> OnDblClick;
    // Ctrl+Delete, after the confirmation; the cursor's Delete when unset.
    std::function<void()> OnDeleteRecord;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class DBGridModel;

    // Events of the cursor, through the model.
    void refreshed();
    void scrolled();
    void recordChanged();
    void stateChanged();
    void writePendingText();
    void focusField(Field *field);

    // The key table; true when the key was handled.
    bool handleKey(QKeyEvent *event);
    void moveUp();
    void moveDown(bool mayAppend);
    void moveToRow(int row);
    void tabStep(int step);
    void moveColumn(int step);
    void enter();
    void escape();
    void deleteRecord();
    void typeCharacter(const QString &text);
    void pressAt(const QPoint &pos, Qt::MouseButton button);
    void focusLeft();
    void focusMoved(QWidget *from, QWidget *to);

    // The cell editor.
    void openEditor(std::optional<QString> initialText, bool beginEdit);
    void closeCellEditor();
    void placeEditor();
    bool editorModified() const { return m_editorOpen && m_editorModified; }
    void writeEditorText();
    void editorEdited();

    // Painting.
    void paintRows(QPainter &painter, const QRect &area);
    void paintCell(QPainter &painter, const QRect &rect, int column, CellState state);
    CellState cellState(int row, int column) const;
    bool showsFocus() const;
    void reportPaintFailure(const QString &message);

    void applyGeometry();
    void keepCurrentVisible();
    int fieldAlignment(int column) const;
    QFont columnFont(int column) const;
    QColor columnColor(int column) const;

    DBGridModel *m_model;
    GridOptions m_options;
    QList<GridColumn> m_columns;
    QColor m_color;
    QFont m_titleFont;
    QPointer<QMenu> m_popupMenu;
    int m_selectedColumn = 0;
    QLineEdit *m_editor = nullptr;
    bool m_editorOpen = false;
    bool m_editorModified = false;
    bool m_editorOnInsert = false; // opened on a record being inserted
    int m_editorColumn = 0;
    bool m_writingEditor = false;
    bool m_posting = false;        // the cursor announced a post: the editor stays on the posted record
    QString m_failedPaint;
    bool m_paintFailurePending = false;
    bool m_paintFailed = false;
    QMetaObject::Connection m_focusConnection;
};

} // namespace toolkit

Q_DECLARE_OPERATORS_FOR_FLAGS(toolkit::GridOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(toolkit::CellState)
