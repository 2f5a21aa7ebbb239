#include "dbedit.h"

#include "characterlimit.h"

#include "dialogs.h"
#include "guard.h"

#include "data/field.h"
#include "store/error.h"
#include "data/table.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

DBEdit::DBEdit(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, [this] { m_modified = true; });
}

void DBEdit::SetDataSource(DataSource *source)
{
    setDataSource(source);
    reload();
}

void DBEdit::SetDataField(const QString &fieldName)
{
    m_fieldName = fieldName;
    reload();
}

Field *DBEdit::field() const
{
    Table *t = table();
    return t && !m_fieldName.isEmpty() ? t->FindField(m_fieldName) : nullptr;
}

void DBEdit::SetMaxLength(int length)
{
    m_ownLimit = length;
    applyLimit();
}

void DBEdit::applyLimit()
{
    int limit = m_ownLimit;
    if (limit <= 0) {
        const Field *f = field();
        limit = f && f->kind() == FieldKind::Text && f->Size() > 0 ? f->Size() : 32767;
    }
    toolkit::limitCharacters(this, limit);
}

void DBEdit::applyAlignment()
{
    const Field *f = field();
    const bool number = f && f->isNumeric();
    setAlignment(number && !hasFocus() ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
}

void DBEdit::reload()
{
    m_loading = true;
    const Field *f = field();
    const Table *t = table();
    setText(f && t && t->Active() ? f->Text() : QString());
    m_loading = false;
    m_modified = false;
    applyLimit();
    applyAlignment();
}

void DBEdit::updateData()
{
    if (!m_modified)
        return;
    Field *f = field();
    if (!f)
        return;
    try {
        f->SetText(text());
    } catch (const SystemError &) {
        takeFocusBack();
        throw;
    }
    m_modified = false;
}

// After a refused text the box takes the focus back with its whole text
// selected; done from the event loop, once the focus change that is under
// way has ended.
void DBEdit::takeFocusBack()
{
    QPointer<DBEdit> self(this);
    QTimer::singleShot(0, this, [self] {
        if (!self || !self->isVisible())
            return;
        self->setFocus(Qt::OtherFocusReason);
        self->selectAll();
    });
}

void DBEdit::dataEvent(DataEvent event, Field *changed)
{
    switch (event) {
    case DataEvent::ActiveChanged:
    case DataEvent::DataSetChanged:
    case DataEvent::DataSetScrolled:
    case DataEvent::StateChanged:
        reload();
        break;
    case DataEvent::RecordChanged:
        if (!changed || changed == field())
            reload();
        break;
    case DataEvent::CheckBrowseMode:
    case DataEvent::UpdateRecord:
        updateData();
        break;
    case DataEvent::FocusControl:
        if (changed && changed == field() && isVisible())
            setFocus(Qt::OtherFocusReason);
        break;
    }
}

void DBEdit::keyPressEvent(QKeyEvent *event)
{
    if (OnKeyPress && OnKeyPress(this, event))
        return;
    if (event->key() == Qt::Key_Escape) {
        reload();
        selectAll();
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool printable = typed.size() == 1 && typed.at(0).isPrint()
                           && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (printable) {
        const Field *f = field();
        const QString &keys = f ? f->keyFilter() : QString();
        if (!keys.isEmpty() && !keys.contains(typed.at(0))) {
            toolkit::beep();
            event->accept();
            return;
        }
        if (m_upper && typed.at(0).isLower()) {
            QKeyEvent upper(event->type(), event->key(), event->modifiers(), typed.toUpper(),
                            event->isAutoRepeat(), event->count());
            QLineEdit::keyPressEvent(&upper);
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void DBEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    applyAlignment();
}

void DBEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    applyAlignment();
    if (!m_modified || event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    // The error box is shown from the event loop, not from inside the
    // focus change.
    QPointer<DBEdit> self(this);
    try {
        updateData();
    } catch (const SystemError &e) {
        const QString message = e.message();
        QTimer::singleShot(0, this, [self, message] {
            if (self && self->m_modified)
                toolkit::showErrorBox(message);
        });
    }
}
