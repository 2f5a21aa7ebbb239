#include "elements.h"

QRPrintable::QRPrintable(Kind kind, const QString &name, int left, int top, int width, int height)
    : Left(left), Top(top), Width(width), Height(height), m_kind(kind), m_name(name)
{
}

QRPrintable::~QRPrintable() = default;
