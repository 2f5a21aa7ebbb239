#include "colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace toolkit {

namespace {
QColor role(QPalette::ColorRole r)
{
    return QGuiApplication::palette().color(QPalette::Active, r);
}
} // namespace

QColor clBtnFace() { return role(QPalette::Button); }
QColor clBtnHighlight() { return role(QPalette::Light); }
QColor clBtnShadow() { return role(QPalette::Dark); }
QColor clInfoBk() { return role(QPalette::ToolTipBase); }
QColor clHighlight() { return role(QPalette::Highlight); }
QColor clHighlightText() { return role(QPalette::HighlightedText); }
QColor clWindowText() { return role(QPalette::WindowText); }

} // namespace toolkit
