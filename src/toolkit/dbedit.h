#pragma once

#include "data/datasource.h"

#include <QLineEdit>
#include <functional>

class Field;

// An edit box bound to one field of a data source. It shows the field's
// edit text, writes its own text back into the field only when the user has
// changed it (on leaving the box, and when the cursor settles or posts), and
// admits from the keyboard only the characters the field's kind allows.
// Esc reloads the field's text. A number field's text stands right-aligned
// while the box does not have the focus.
class DBEdit : public QLineEdit, public DataLink
{
    Q_OBJECT
public:
    explicit DBEdit(QWidget *parent = nullptr);

    void SetDataSource(DataSource *source);
    void SetDataField(const QString &fieldName);
    Field *field() const;
    // The box's own limit; 0 takes the size of a text field.
    void SetMaxLength(int length);
    void SetUpperCase(bool upper) { m_upper = upper; }
    // Called for every key before the box handles it; returning true consumes it.
    std::function<bool(DBEdit *, QKeyEvent *)> OnKeyPress;

    bool userModified() const { return m_modified; }
    // Shows the field's text again and forgets the typing.
    void reload();
    // Writes the typing into the field when the user changed the text;
    // a text that cannot be read leaves the field as it was and throws.
    void updateData();

    void dataEvent(DataEvent event, Field *field) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void applyLimit();
    void applyAlignment();
    void takeFocusBack();

    QString m_fieldName;
    int m_ownLimit = 0;
    bool m_upper = false;
    bool m_modified = false;
    bool m_loading = false;
};
