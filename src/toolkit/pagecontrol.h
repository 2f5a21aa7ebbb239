#pragma once

#include <QGroupBox>
#include <QTabBar>
#include <QTabWidget>

class QRadioButton;

namespace toolkit {

// A tab bar whose tabs light up under the mouse pointer (their captions in
// the highlight colour), as the classic tabbed panes do.
class HotTrackTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit HotTrackTabBar(QWidget *parent = nullptr);
    // The tab under the mouse; -1 when there is none.
    int hotTab() const { return m_hot; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void setHot(int index);
    int m_hot = -1;
};

// A tabbed pane with hot-tracking tabs; each page's tab can be shown or
// hidden on its own.
class PageControl : public QTabWidget
{
    Q_OBJECT
public:
    explicit PageControl(QWidget *parent = nullptr);
    HotTrackTabBar *hotTabBar() const { return m_bar; }

private:
    HotTrackTabBar *m_bar;
};

// A framed group of radio buttons with one selected item, known by its index.
class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    RadioGroup(const QString &caption, const QStringList &items, QWidget *parent = nullptr);
    int itemIndex() const;       // -1 when none is selected
    void setItemIndex(int index);
    QRadioButton *button(int index) const { return m_buttons.value(index); }
    int count() const { return int(m_buttons.size()); }

private:
    QList<QRadioButton *> m_buttons;
};

} // namespace toolkit
