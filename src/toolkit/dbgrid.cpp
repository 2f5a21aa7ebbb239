#include "dbgrid.h"

#include "characterlimit.h"

#include "colors.h"
#include "dialogs.h"
#include "guard.h"

#include "data/field.h"
#include "data/table.h"
#include "store/error.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QTimer>

namespace toolkit {

namespace {

constexpr int kIndicatorWidth = 11;
// Where the default painting writes a cell's text: 2 pixels below the top,
// 2 pixels in from the left or 3 pixels in from the right.
constexpr int kTextTop = 2;
constexpr int kTextLeft = 2;
constexpr int kTextRight = 3;

bool browsing(const Table *t)
{
    return t->State() == DataSetState::Browse;
}

bool editing(const Table *t)
{
    return t->State() == DataSetState::Edit || t->State() == DataSetState::Insert;
}

// The narrow column at the left that marks the current record: a triangle
// while browsing, "I" while editing, "*" while inserting.
class IndicatorHeader : public QHeaderView
{
public:
    explicit IndicatorHeader(DBGrid *grid) : QHeaderView(Qt::Vertical, grid), m_grid(grid)
    {
        setSectionsClickable(false);
        setHighlightSections(false);
    }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        painter->fillRect(rect, clBtnFace());
        painter->fillRect(rect.left(), rect.top(), rect.width(), 1, clBtnHighlight());
        painter->fillRect(rect.left(), rect.top(), 1, rect.height(), clBtnHighlight());
        painter->fillRect(rect.left(), rect.bottom(), rect.width(), 1, clBtnShadow());
        painter->fillRect(rect.right(), rect.top(), 1, rect.height(), clBtnShadow());
        if (logicalIndex != m_grid->gridModel()->currentRow() || !m_grid->table())
            return;
        painter->setPen(clWindowText());
        const QPoint c = rect.center();
        switch (m_grid->table()->State()) {
        case DataSetState::Insert:
            painter->drawText(rect, Qt::AlignCenter, QStringLiteral("*"));
            break;
        case DataSetState::Edit:
            painter->drawText(rect, Qt::AlignCenter, QStringLiteral("I"));
            break;
        default: {
            const QPoint triangle[] = {{c.x() - 2, c.y() - 4}, {c.x() + 2, c.y()}, {c.x() - 2, c.y() + 4}};
            painter->setBrush(clWindowText());
            painter->drawPolygon(triangle, 3);
            break;
        }
        }
    }

private:
    DBGrid *m_grid;
};

// The title row: the titles as a header draws them, and right of the last
// title the grid's own colour, as right of the last column below.
class TitleHeader : public QHeaderView
{
public:
    explicit TitleHeader(DBGrid *grid) : QHeaderView(Qt::Horizontal, grid), m_grid(grid) {}

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QHeaderView::paintEvent(event);
        const int end = length() - offset();
        if (end < viewport()->width()) {
            QPainter painter(viewport());
            painter.fillRect(QRect(end, 0, viewport()->width() - end, viewport()->height()), m_grid->color());
        }
    }

private:
    DBGrid *m_grid;
};

} // namespace

// ---------------------------------------------------------------- model

DBGridModel::DBGridModel(DBGrid *grid) : QAbstractTableModel(grid), m_grid(grid) {}

int DBGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DBGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_grid->columns().size());
}

QVariant DBGridModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        // For item-view users other than the painting (which reads each row
        // once per paint): the field's display text on that row.
        Table *t = table();
        Field *field = m_grid->columnField(column);
        if (!t || !t->Active() || !field)
            return QString();
        try {
            Table::RowScope scope(*t, index.row());
            return scope.valid() ? field->DisplayText() : QString();
        } catch (const SystemError &e) {
            qWarning("%s", e.what());
            return QString();
        }
    }
    case Qt::TextAlignmentRole:
        return int(m_grid->fieldAlignment(column) | Qt::AlignTop);
    case Qt::FontRole:
        return m_grid->columnFont(column);
    case Qt::BackgroundRole:
        return m_grid->columnColor(column);
    case Qt::ForegroundRole:
        return clWindowText();
    default:
        return {};
    }
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    const GridColumn &column = m_grid->columns().at(section);
    switch (role) {
    case Qt::DisplayRole:
        return column.title;
    case Qt::FontRole:
        return column.titleFont.value_or(m_grid->titleFont());
    default:
        return {};
    }
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void DBGridModel::dataEvent(DataEvent event, Field *field)
{
    switch (event) {
    case DataEvent::ActiveChanged:
    case DataEvent::DataSetChanged:
        m_grid->refreshed();
        break;
    case DataEvent::DataSetScrolled:
        m_grid->scrolled();
        break;
    case DataEvent::RecordChanged:
        m_grid->recordChanged();
        break;
    case DataEvent::StateChanged:
        m_grid->stateChanged();
        break;
    case DataEvent::CheckBrowseMode:
        m_grid->m_posting = false;
        m_grid->writePendingText();
        break;
    case DataEvent::UpdateRecord:
        m_grid->writePendingText();
        m_grid->m_posting = true;
        break;
    case DataEvent::FocusControl:
        m_grid->focusField(field);
        break;
    }
}

void DBGridModel::refresh()
{
    Table *t = table();
    const int rows = t && t->Active() ? t->DisplayRowCount() : 0;
    ++m_refreshes;
    if (rows != m_rows) {
        // A reset rather than row insertions: the cursor tells only that its
        // records changed, not where, so no row can be said to have stayed.
        // A reset forgets the column widths, which the grid keeps.
        QHeaderView *header = m_grid->horizontalHeader();
        QList<int> widths;
        for (int c = 0; c < header->count(); ++c)
            widths << header->sectionSize(c);
        beginResetModel();
        m_rows = rows;
        m_currentRow = t && t->Active() ? t->DisplayRow() : -1;
        endResetModel();
        for (int c = 0; c < widths.size() && c < header->count(); ++c)
            header->resizeSection(c, widths[c]);
    } else {
        m_currentRow = t && t->Active() ? t->DisplayRow() : -1;
        if (m_rows > 0 && columnCount() > 0)
            emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
    }
}

void DBGridModel::columnsChanged()
{
    beginResetModel();
    endResetModel();
}

// ---------------------------------------------------------------- grid

DBGrid::DBGrid(QWidget *parent)
    : QTableView(parent), m_model(new DBGridModel(this))
{
    m_color = palette().color(QPalette::Base);
    m_titleFont = font();
    setHorizontalHeader(new TitleHeader(this));
    setVerticalHeader(new IndicatorHeader(this));
    setModel(m_model);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setShowGrid(false);
    setCornerButtonEnabled(false);
    setWordWrap(false);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setMinimumSectionSize(1);
    setOptions(GridOption::Titles | GridOption::Indicator | GridOption::Editing | GridOption::ColumnResize
               | GridOption::ColLines | GridOption::RowLines | GridOption::Tabs | GridOption::ConfirmDelete
               | GridOption::CancelOnExit);
    // Scrolling stops at whole rows.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        const int stride = verticalHeader()->defaultSectionSize();
        if (stride > 0 && value % stride != 0)
            verticalScrollBar()->setValue((value + stride / 2) / stride * stride);
    });
    m_focusConnection = connectGuarded(qApp, &QApplication::focusChanged, this,
                                       [this](QWidget *from, QWidget *to) { focusMoved(from, to); });
}

DBGrid::~DBGrid()
{
    // The focus moves while the widget is being taken apart; it is no grid by then.
    QObject::disconnect(m_focusConnection);
    m_model->DataLink::setDataSource(nullptr);
}

void DBGrid::setDataSource(DataSource *source)
{
    closeCellEditor();
    m_model->DataLink::setDataSource(source);
    refreshed();
}

DataSource *DBGrid::dataSource() const
{
    return m_model->dataSource();
}

Table *DBGrid::table() const
{
    return m_model->table();
}

void DBGrid::setOptions(GridOptions options)
{
    m_options = options;
    if (!hasOption(GridOption::Editing))
        closeCellEditor();
    applyGeometry();
    viewport()->update();
}

void DBGrid::setColumns(const QList<GridColumn> &columns)
{
    closeCellEditor();
    m_columns = columns;
    m_model->columnsChanged();
    m_selectedColumn = 0;
    applyGeometry();
    refreshed();
}

Field *DBGrid::columnField(int column) const
{
    Table *t = table();
    if (!t || column < 0 || column >= m_columns.size())
        return nullptr;
    return t->FindField(m_columns.at(column).fieldName);
}

void DBGrid::setColor(const QColor &color)
{
    m_color = color;
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Base, color);
    viewport()->setPalette(p);
    viewport()->update();
    horizontalHeader()->viewport()->update();
}

void DBGrid::setTitleFont(const QFont &font)
{
    m_titleFont = font;
    applyGeometry();
}

int DBGrid::defaultRowHeight() const
{
    return QFontMetrics(font()).height() + 4;
}

void DBGrid::applyGeometry()
{
    const int colLine = hasOption(GridOption::ColLines) ? 1 : 0;
    const int rowLine = hasOption(GridOption::RowLines) ? 1 : 0;
    QHeaderView *h = horizontalHeader();
    h->setVisible(hasOption(GridOption::Titles));
    int titleHeight = QFontMetrics(m_titleFont).height();
    for (const GridColumn &c : std::as_const(m_columns))
        if (c.titleFont)
            titleHeight = std::max(titleHeight, QFontMetrics(*c.titleFont).height());
    h->setFixedHeight(titleHeight + 4 + rowLine);
    h->setFont(m_titleFont);
    h->setSectionResizeMode(hasOption(GridOption::ColumnResize) ? QHeaderView::Interactive : QHeaderView::Fixed);
    for (int c = 0; c < m_columns.size() && c < h->count(); ++c)
        h->resizeSection(c, m_columns.at(c).width + colLine);
    QHeaderView *v = verticalHeader();
    v->setVisible(hasOption(GridOption::Indicator));
    v->setFixedWidth(kIndicatorWidth + colLine);
    v->setDefaultSectionSize(defaultRowHeight() + rowLine);
    setTabKeyNavigation(hasOption(GridOption::Tabs));
}

QFont DBGrid::columnFont(int column) const
{
    if (column >= 0 && column < m_columns.size() && m_columns.at(column).font)
        return *m_columns.at(column).font;
    return font();
}

QColor DBGrid::columnColor(int column) const
{
    if (column >= 0 && column < m_columns.size() && m_columns.at(column).color)
        return *m_columns.at(column).color;
    return m_color;
}

int DBGrid::fieldAlignment(int column) const
{
    if (column >= 0 && column < m_columns.size() && m_columns.at(column).alignment)
        return int(*m_columns.at(column).alignment & Qt::AlignHorizontal_Mask);
    const Field *field = columnField(column);
    return field && field->isNumeric() ? Qt::AlignRight : Qt::AlignLeft;
}

void DBGrid::setSelectedIndex(int column)
{
    if (m_columns.isEmpty())
        return;
    column = std::clamp(column, 0, int(m_columns.size()) - 1);
    if (column == m_selectedColumn)
        return;
    if (m_editorOpen && column != m_editorColumn)
        closeCellEditor();
    m_selectedColumn = column;
    if (m_model->currentRow() >= 0)
        scrollTo(m_model->index(m_model->currentRow(), column), EnsureVisible);
    viewport()->update();
}

bool DBGrid::editorMode() const
{
    return m_editorOpen;
}

int DBGrid::visibleRowCount() const
{
    const int stride = verticalHeader()->defaultSectionSize();
    if (stride <= 0)
        return 0;
    const int fit = viewport()->height() / stride;
    return std::max(0, std::min(fit, m_model->m_rows - std::max(0, topRow())));
}

int DBGrid::topRow() const
{
    const int stride = verticalHeader()->defaultSectionSize();
    return stride > 0 ? verticalScrollBar()->value() / stride : 0;
}

QRect DBGrid::cellRect(int row, int column) const
{
    const int colLine = hasOption(GridOption::ColLines) ? 1 : 0;
    const int rowLine = hasOption(GridOption::RowLines) ? 1 : 0;
    return QRect(columnViewportPosition(column), rowViewportPosition(row),
                 QTableView::columnWidth(column) - colLine, rowHeight(row) - rowLine);
}

// ---------------------------------------------------------------- cursor events

void DBGrid::refreshed()
{
    m_model->refresh();
    Table *t = table();
    if (m_editorOpen && (!t || !t->Active()))
        closeCellEditor();
    keepCurrentVisible();
    placeEditor();
    viewport()->update();
    verticalHeader()->viewport()->update();
}

void DBGrid::scrolled()
{
    Table *t = table();
    if (!t || !t->Active())
        return;
    if (t->DisplayRowCount() != m_model->m_rows) {
        refreshed();
        return;
    }
    const int before = m_model->m_currentRow;
    m_model->m_currentRow = t->DisplayRow();
    if (before != m_model->m_currentRow)
        closeCellEditor();
    keepCurrentVisible();
    viewport()->update();
    verticalHeader()->viewport()->update();
    if (hasOption(GridOption::AlwaysShowEditor) && showsFocus() && !m_editorOpen)
        openEditor(std::nullopt, false);
}

void DBGrid::recordChanged()
{
    if (m_editorOpen && !m_editorModified && !m_writingEditor) {
        if (Field *field = columnField(m_editorColumn))
            m_editor->setText(field->Text());
    }
    const int row = m_model->m_currentRow;
    if (row >= 0)
        viewport()->update(0, rowViewportPosition(row), viewport()->width(), rowHeight(row));
}

void DBGrid::stateChanged()
{
    Table *t = table();
    if (m_editorOpen && t) {
        if (browsing(t)) {
            // Kept after a post (Enter writes and posts but leaves the editor
            // open); closed after a cancel or a delete.
            if (m_posting) {
                m_editorOnInsert = false;
                m_editorModified = false;
            } else {
                closeCellEditor();
            }
        } else if (t->State() == DataSetState::Insert && !m_editorOnInsert) {
            closeCellEditor();
        }
    }
    m_posting = false;
    verticalHeader()->viewport()->update();
}

void DBGrid::writePendingText()
{
    Table *t = table();
    if (t && editing(t))
        writeEditorText();
}

void DBGrid::focusField(Field *field)
{
    for (int c = 0; c < m_columns.size(); ++c) {
        if (columnField(c) == field) {
            setSelectedIndex(c);
            setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void DBGrid::keepCurrentVisible()
{
    const int row = m_model->m_currentRow;
    if (row < 0 || row >= m_model->m_rows || m_columns.isEmpty())
        return;
    if (!hasOption(GridOption::RowSelect))
        scrollTo(m_model->index(row, m_selectedColumn), EnsureVisible); // the column
    // Whole rows only: the top row is never cut, the current row always in view.
    const int stride = verticalHeader()->defaultSectionSize();
    const int fit = std::max(1, viewport()->height() / std::max(1, stride));
    const int top = topRow();
    if (row < top)
        verticalScrollBar()->setValue(row * stride);
    else if (row >= top + fit)
        verticalScrollBar()->setValue((row - fit + 1) * stride);
}

void DBGrid::updateGeometries()
{
    QTableView::updateGeometries();
    // Rows all have one height and scroll by whole rows; the last page holds
    // the rows that fit whole, so the last row comes fully into view.
    const int stride = verticalHeader()->defaultSectionSize();
    if (stride > 0) {
        const int fit = std::max(1, viewport()->height() / stride);
        verticalScrollBar()->setSingleStep(stride);
        verticalScrollBar()->setPageStep(fit * stride);
        verticalScrollBar()->setRange(0, std::max(0, m_model->m_rows - fit) * stride);
    }
}

// ---------------------------------------------------------------- keys

bool DBGrid::event(QEvent *event)
{
    // Tab stays in the grid when the grid moves between cells with it.
    if (event->type() == QEvent::KeyPress && hasOption(GridOption::Tabs)) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QTableView::event(event);
}

void DBGrid::keyPressEvent(QKeyEvent *event)
{
    bool handled = true;
    runGuarded([&] { handled = handleKey(event); });
    if (handled)
        event->accept();
    else
        event->ignore();
}

void DBGrid::inputMethodEvent(QInputMethodEvent *event)
{
    if (!event->commitString().isEmpty())
        runGuarded([&] { typeCharacter(event->commitString()); });
    event->accept();
}

bool DBGrid::handleKey(QKeyEvent *event)
{
    Table *t = table();
    if (!t || !t->Active())
        return false;
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const bool rowSelect = hasOption(GridOption::RowSelect);
    const int bottom = std::max(0, topRow() + visibleRowCount() - 1);
    switch (event->key()) {
    case Qt::Key_Up:
        ctrl ? moveToRow(topRow()) : moveUp();
        return true;
    case Qt::Key_Down:
        ctrl ? moveToRow(bottom) : moveDown(true);
        return true;
    case Qt::Key_Left:
        rowSelect ? moveUp() : moveColumn(-1);
        return true;
    case Qt::Key_Right:
        rowSelect ? moveDown(false) : moveColumn(1);
        return true;
    case Qt::Key_PageUp:
        ctrl ? moveToRow(topRow()) : t->MoveBy(-std::max(1, visibleRowCount()));
        return true;
    case Qt::Key_PageDown:
        ctrl ? moveToRow(bottom) : t->MoveBy(std::max(1, visibleRowCount()));
        return true;
    case Qt::Key_Home:
        t->First();
        return true;
    case Qt::Key_End:
        t->Last();
        return true;
    case Qt::Key_Tab:
        if (!hasOption(GridOption::Tabs))
            return false;
        tabStep(1);
        return true;
    case Qt::Key_Backtab:
        if (!hasOption(GridOption::Tabs))
            return false;
        tabStep(-1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        enter();
        return true;
    case Qt::Key_Escape:
        escape();
        return true;
    case Qt::Key_Insert:
        if (hasOption(GridOption::Editing) && !ctrl && !event->modifiers().testFlag(Qt::ShiftModifier))
            t->Insert();
        return true;
    case Qt::Key_Delete:
        if (ctrl)
            deleteRecord();
        return true;
    case Qt::Key_F2:
        if (hasOption(GridOption::Editing) && !m_editorOpen)
            openEditor(std::nullopt, true);
        return true;
    default:
        break;
    }
    const QString text = event->text();
    if (!text.isEmpty() && text.at(0).isPrint() && !ctrl && !event->modifiers().testFlag(Qt::AltModifier)) {
        typeCharacter(text);
        return true;
    }
    return false;
}

void DBGrid::moveToRow(int row)
{
    if (Table *t = table())
        t->MoveToDisplayRow(row);
}

void DBGrid::moveUp()
{
    Table *t = table();
    if (t->State() == DataSetState::Insert && !t->Modified() && !editorModified()) {
        // A new record with nothing typed is dropped; the row above it becomes current.
        const int row = t->DisplayRow();
        if (row > 0)
            t->MoveToDisplayRow(row - 1);
        else
            t->Cancel();
        return;
    }
    t->Prior();
}

void DBGrid::moveDown(bool mayAppend)
{
    Table *t = table();
    if (t->State() == DataSetState::Insert && !t->Modified() && !editorModified()) {
        const int row = t->DisplayRow();
        // Down on an empty new row at the end does nothing.
        if (row + 1 >= t->DisplayRowCount())
            return;
        t->MoveToDisplayRow(row + 1);
        return;
    }
    t->Next();
    if (t->Eof() && mayAppend && hasOption(GridOption::Editing))
        t->Append();
}

void DBGrid::moveColumn(int step)
{
    setSelectedIndex(m_selectedColumn + step);
}

void DBGrid::tabStep(int step)
{
    const int target = m_selectedColumn + step;
    if (target >= 0 && target < m_columns.size()) {
        setSelectedIndex(target);
        return;
    }
    Table *t = table();
    const int rowBefore = t->DisplayRow();
    const auto keyBefore = t->CurrentKey();
    if (step > 0)
        moveDown(true);
    else
        moveUp();
    if (t->DisplayRow() != rowBefore || t->CurrentKey() != keyBefore || t->State() == DataSetState::Insert)
        setSelectedIndex(step > 0 ? 0 : int(m_columns.size()) - 1);
}

void DBGrid::enter()
{
    if (editorModified())
        writeEditorText();
    QChar key(u'\r');
    if (OnKeyPress)
        OnKeyPress(key);
}

void DBGrid::escape()
{
    Table *t = table();
    if (editorModified()) {
        // The first Esc undoes what was typed in the cell.
        if (Field *field = columnField(m_editorColumn))
            m_editor->setText(field->Text());
        m_editorModified = false;
        return;
    }
    closeCellEditor();
    if (editing(t))
        t->Cancel();
}

void DBGrid::deleteRecord()
{
    Table *t = table();
    if (t->DisplayRowCount() == 0)
        return;
    if (hasOption(GridOption::ConfirmDelete)
        && messageDlg(QStringLiteral("Delete record?"), MessageKind::Confirmation, BoxButton::Ok | BoxButton::Cancel)
               != BoxButton::Ok)
        return;
    if (OnDeleteRecord)
        OnDeleteRecord();
    else
        t->Delete();
}

void DBGrid::typeCharacter(const QString &text)
{
    QChar key = text.at(0);
    if (OnKeyPress) {
        OnKeyPress(key);
        if (key.isNull())
            return;
    }
    if (!hasOption(GridOption::Editing))
        return;
    Field *field = columnField(m_selectedColumn);
    if (!field || field->ReadOnly())
        return;
    if (!field->keyFilter().isEmpty() && !field->keyFilter().contains(key)) {
        beep();
        return;
    }
    openEditor(QString(key) + text.mid(1), true);
}

// ---------------------------------------------------------------- mouse

void DBGrid::mousePressEvent(QMouseEvent *event)
{
    if (!hasFocus() && !(m_editor && m_editor->hasFocus()))
        setFocus(Qt::MouseFocusReason);
    runGuarded([&] { pressAt(event->position().toPoint(), event->button()); });
    event->accept();
}

void DBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    runGuarded([&] {
        pressAt(event->position().toPoint(), event->button());
        if (event->button() == Qt::LeftButton && OnDblClick)
            OnDblClick();
    });
    event->accept();
}

void DBGrid::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void DBGrid::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void DBGrid::pressAt(const QPoint &pos, Qt::MouseButton button)
{
    Table *t = table();
    if (!t || !t->Active())
        return;
    const int row = rowAt(pos.y());
    const int column = columnAt(pos.x());
    // Below the last row or right of the last column nothing moves.
    if (row < 0 || column < 0)
        return;
    const bool onCurrent = row == m_model->m_currentRow && column == m_selectedColumn;
    if (button == Qt::LeftButton && onCurrent && hasOption(GridOption::Editing)
        && !hasOption(GridOption::RowSelect)) {
        if (!m_editorOpen)
            openEditor(std::nullopt, true);
        return;
    }
    setSelectedIndex(column);
    t->MoveToDisplayRow(row);
}

void DBGrid::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_popupMenu)
        return;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard && m_model->m_currentRow >= 0)
        at = viewport()->mapToGlobal(cellRect(m_model->m_currentRow, m_selectedColumn).center());
    m_popupMenu->popup(at);
    event->accept();
}

// ---------------------------------------------------------------- focus

void DBGrid::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    if (hasOption(GridOption::AlwaysShowEditor) && !m_editorOpen)
        runGuarded([&] { openEditor(std::nullopt, false); });
}

void DBGrid::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void DBGrid::focusMoved(QWidget *from, QWidget *to)
{
    auto mine = [this](QWidget *w) { return w && (w == this || w == viewport() || w == m_editor); };
    // Leaving the grid means another control of the same window takes the
    // focus; a menu, a message box or another window does not count.
    if (mine(from) && to && !mine(to) && to->window() == window())
        focusLeft();
    if (mine(from) != mine(to))
        viewport()->update();
}

void DBGrid::focusLeft()
{
    Table *t = table();
    if (!t || !t->Active())
        return;
    if (m_editorOpen) {
        // The typed text goes into the field; it is posted only by a move,
        // Enter or a command.
        if (editorModified() && editing(t))
            writeEditorText();
        closeCellEditor();
    }
    if (hasOption(GridOption::CancelOnExit) && t->State() == DataSetState::Insert && !t->Modified())
        t->Cancel();
}

// ---------------------------------------------------------------- cell editor

void DBGrid::openEditor(std::optional<QString> initialText, bool beginEdit)
{
    Table *t = table();
    if (!t || !t->Active() || !hasOption(GridOption::Editing) || m_columns.isEmpty())
        return;
    Field *field = columnField(m_selectedColumn);
    if (!field || field->ReadOnly())
        return;
    if (beginEdit)
        t->Edit(); // on an empty view this begins a new record
    if (!m_editor) {
        m_editor = new QLineEdit(viewport());
        m_editor->setFrame(false);
        m_editor->hide();
        m_editor->installEventFilter(this);
        connectGuarded(m_editor, &QLineEdit::textEdited, this, [this] { editorEdited(); });
    }
    m_editorColumn = m_selectedColumn;
    m_editorOnInsert = t->State() == DataSetState::Insert;
    m_editor->setFont(columnFont(m_editorColumn));
    QPalette p = m_editor->palette();
    p.setColor(QPalette::Base, columnColor(m_editorColumn));
    p.setColor(QPalette::Text, clWindowText());
    m_editor->setPalette(p);
    limitCharacters(m_editor, field->kind() == FieldKind::Text && field->Size() > 0 ? field->Size() : 32767);
    m_editorOpen = true;
    if (initialText) {
        m_editor->setText(*initialText);
        m_editor->end(false);
        m_editorModified = true;
    } else {
        m_editor->setText(field->Text());
        m_editor->selectAll();
        m_editorModified = false;
    }
    placeEditor();
    m_editor->show();
    m_editor->setFocus(Qt::OtherFocusReason);
}

void DBGrid::closeCellEditor()
{
    if (!m_editorOpen)
        return;
    m_editorOpen = false;
    m_editorModified = false;
    m_editorOnInsert = false;
    if (m_editor->hasFocus())
        setFocus(Qt::OtherFocusReason);
    m_editor->hide();
    viewport()->update();
}

void DBGrid::placeEditor()
{
    if (!m_editorOpen)
        return;
    const int row = m_model->m_currentRow;
    if (row < 0 || row >= m_model->m_rows) {
        m_editor->setGeometry(QRect());
        return;
    }
    m_editor->setGeometry(cellRect(row, m_editorColumn));
}

void DBGrid::writeEditorText()
{
    if (!editorModified() || m_writingEditor)
        return;
    Field *field = columnField(m_editorColumn);
    if (!field)
        return;
    m_writingEditor = true;
    struct Reset
    {
        bool &flag;
        ~Reset() { flag = false; }
    } reset{m_writingEditor};
    field->SetText(m_editor->text());
    m_editorModified = false;
}

void DBGrid::editorEdited()
{
    m_editorModified = true;
    Table *t = table();
    if (t && t->Active() && browsing(t)) {
        // Typing again after a post edits the record once more.
        try {
            t->Edit();
        } catch (...) {
            if (Field *field = columnField(m_editorColumn))
                m_editor->setText(field->Text());
            m_editorModified = false;
            throw;
        }
    }
}

bool DBGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_editor || event->type() != QEvent::KeyPress)
        return QTableView::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const bool ctrl = key->modifiers().testFlag(Qt::ControlModifier);
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Insert:
    case Qt::Key_F2:
        keyPressEvent(key);
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
        if (ctrl) {
            keyPressEvent(key);
            return true;
        }
        return false;
    default:
        break;
    }
    // The grid's key handler sees what is typed into the editor as well.
    const QString text = key->text();
    if (OnKeyPress && !text.isEmpty() && text.at(0).isPrint()) {
        QChar ch = text.at(0);
        runGuarded([&] { OnKeyPress(ch); });
        if (ch.isNull())
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- painting

void DBGrid::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    placeEditor();
}

void DBGrid::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    placeEditor();
}

bool DBGrid::showsFocus() const
{
    return hasFocus() || (m_editor && m_editor->hasFocus());
}

CellState DBGrid::cellState(int row, int column) const
{
    CellState state;
    if (row != m_model->m_currentRow)
        return state;
    const bool focus = showsFocus();
    const bool shown = focus || hasOption(GridOption::AlwaysShowSelection);
    if (hasOption(GridOption::RowSelect)) {
        if (shown)
            state |= CellStateFlag::Selected;
    } else if (column == m_selectedColumn && shown) {
        state |= CellStateFlag::Selected;
    }
    if (focus && column == m_selectedColumn)
        state |= CellStateFlag::Focused;
    return state;
}

void DBGrid::paintEvent(QPaintEvent *event)
{
    const PaintScope paint;
    QPainter painter(viewport());
    painter.fillRect(event->rect(), m_color);
    Table *t = table();
    if (!t || !t->Active() || m_columns.isEmpty() || m_model->m_rows == 0)
        return;
    m_paintFailed = false;
    paintRows(painter, event->rect());
    if (!m_paintFailed)
        m_failedPaint.clear();
}

void DBGrid::paintRows(QPainter &painter, const QRect &area)
{
    Table *t = table();
    const int rows = m_model->m_rows;
    int first = rowAt(area.top());
    if (first < 0)
        first = area.top() < 0 ? 0 : rows;
    int last = rowAt(area.bottom());
    if (last < 0)
        last = rows - 1;
    QStyleOptionViewItem gridOption;
    gridOption.initFrom(this);
    const QColor lineColor =
        QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &gridOption, this)));
    const bool colLines = hasOption(GridOption::ColLines);
    const bool rowLines = hasOption(GridOption::RowLines);
    for (int row = first; row <= last && row < rows; ++row) {
        // One read of the row for all its cells: the field objects read it
        // while the row is painted, the current record stays where it is.
        std::optional<Table::RowScope> scope;
        try {
            scope.emplace(*t, row);
        } catch (const SystemError &e) {
            reportPaintFailure(e.message());
            continue;
        }
        if (!scope->valid())
            continue;
        const int y = rowViewportPosition(row);
        const int h = rowHeight(row);
        for (int column = 0; column < m_columns.size(); ++column) {
            const int x = columnViewportPosition(column);
            const int w = QTableView::columnWidth(column);
            if (x > area.right() || x + w <= area.left())
                continue;
            const QRect cell(x, y, w - (colLines ? 1 : 0), h - (rowLines ? 1 : 0));
            paintCell(painter, cell, column, cellState(row, column));
            if (colLines)
                painter.fillRect(x + w - 1, y, 1, h, lineColor);
            if (rowLines)
                painter.fillRect(x, y + h - 1, w, 1, lineColor);
        }
    }
}

void DBGrid::paintCell(QPainter &painter, const QRect &rect, int column, CellState state)
{
    Field *field = columnField(column);
    QColor background = columnColor(column);
    QColor text = clWindowText();
    if (state.testFlag(CellStateFlag::Selected)) {
        background = clHighlight();
        text = clHighlightText();
    }
    const QFont font = columnFont(column);
    painter.setFont(font);
    painter.setPen(text);
    painter.setBrush(background);
    painter.fillRect(rect, background);
    try {
        const QString value = field ? field->DisplayText() : QString();
        if (!value.isEmpty()) {
            const QFontMetrics fm(font);
            const int width = fm.horizontalAdvance(value);
            int x = rect.left() + kTextLeft;
            const int alignment = fieldAlignment(column);
            if (alignment & Qt::AlignRight)
                x = rect.left() + rect.width() - kTextRight - width;
            else if (alignment & Qt::AlignHCenter)
                x = rect.left() + (rect.width() - width) / 2;
            painter.setClipRect(rect);
            painter.drawText(QPoint(x, rect.top() + kTextTop + fm.ascent()), value);
            painter.setClipping(false);
        }
        if (OnDrawColumnCell)
            OnDrawColumnCell(painter, rect, m_columns.at(column), state);
    } catch (const SystemError &e) {
        painter.setClipping(false);
        reportPaintFailure(e.message());
    }
    if (state.testFlag(CellStateFlag::Focused) && !hasOption(GridOption::RowSelect)
        && !(m_editorOpen && column == m_editorColumn)) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect;
        focus.backgroundColor = background;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void DBGrid::reportPaintFailure(const QString &message)
{
    // A box cannot be shown from inside a paint; it is shown right after,
    // once for a run of failing paints.
    m_paintFailed = true;
    if (m_paintFailurePending || message == m_failedPaint || passwordAfterPaint())
        return;
    m_failedPaint = message;
    m_paintFailurePending = true;
    QTimer::singleShot(0, this, [this, message] {
        m_paintFailurePending = false;
        runGuarded([&] { showErrorBox(message); });
    });
}

} // namespace toolkit
