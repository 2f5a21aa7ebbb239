#include "pagecontrol.h"

#include "colors.h"

#include <QMouseEvent>
#include <QRadioButton>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QVBoxLayout>

namespace toolkit {

HotTrackTabBar::HotTrackTabBar(QWidget *parent) : QTabBar(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

void HotTrackTabBar::setHot(int index)
{
    if (index == m_hot)
        return;
    m_hot = index;
    update();
}

void HotTrackTabBar::mouseMoveEvent(QMouseEvent *event)
{
    setHot(tabAt(event->position().toPoint()));
    QTabBar::mouseMoveEvent(event);
}

void HotTrackTabBar::leaveEvent(QEvent *event)
{
    setHot(-1);
    QTabBar::leaveEvent(event);
}

void HotTrackTabBar::paintEvent(QPaintEvent *event)
{
    QTabBar::paintEvent(event);
    if (m_hot < 0 || m_hot >= count() || !isTabVisible(m_hot))
        return;
    // The tab under the mouse is drawn once more with its caption lit.
    QStylePainter painter(this);
    QStyleOptionTab tab;
    initStyleOption(&tab, m_hot);
    tab.state |= QStyle::State_MouseOver;
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        tab.palette.setColor(role, clHighlight());
    painter.drawControl(QStyle::CE_TabBarTab, tab);
}

PageControl::PageControl(QWidget *parent) : QTabWidget(parent), m_bar(new HotTrackTabBar(this))
{
    setTabBar(m_bar);
}

RadioGroup::RadioGroup(const QString &caption, const QStringList &items, QWidget *parent)
    : QGroupBox(caption, parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 2, 4, 2);
    column->setSpacing(0);
    for (const QString &item : items) {
        auto *button = new QRadioButton(item, this);
        column->addWidget(button);
        m_buttons << button;
    }
}

int RadioGroup::itemIndex() const
{
    for (int i = 0; i < m_buttons.size(); ++i)
        if (m_buttons.at(i)->isChecked())
            return i;
    return -1;
}

void RadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < m_buttons.size())
        m_buttons.at(index)->setChecked(true);
}

} // namespace toolkit
