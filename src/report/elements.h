#pragma once

#include <QFont>
#include <QString>

#include <functional>
#include <vector>

class Field;
class QRBand;

// The elements a band is made of, with the designer's geometry: positions
// and sizes in layout units of 1/96 inch from the top-left corner of their
// band, text sizes in points.
class QRPrintable
{
public:
    enum class Kind { Label, DBText, SysData, Shape };

    QRPrintable(Kind kind, const QString &name, int left, int top, int width, int height);
    virtual ~QRPrintable();
    QRPrintable(const QRPrintable &) = delete;
    QRPrintable &operator=(const QRPrintable &) = delete;

    Kind kind() const { return m_kind; }
    const QString &Name() const { return m_name; }

    int Left;
    int Top;
    int Width;
    int Height;
    QFont Font;
    Qt::Alignment Alignment = Qt::AlignLeft;
    // The element takes the size of its text: no wrapping, its width becomes
    // that of its longest line.
    bool AutoSize = false;
    // Centred on its band whatever its width (the title).
    bool CentreOnBand = false;

private:
    Kind m_kind;
    QString m_name;
};

// A text of its own (column captions, the title).
class QRLabel : public QRPrintable
{
public:
    QRLabel(const QString &name, int left, int top, int width, int height)
        : QRPrintable(Kind::Label, name, left, top, width, height)
    {
    }
    const QString &Caption() const { return m_caption; }
    void SetCaption(const QString &caption) { m_caption = caption; }

private:
    QString m_caption;
};

// The print hook of a text element: called with the element and the text
// about to be printed, just before it is drawn; it may change the element's
// font and the text.
using QRPrintHook = std::function<void(QRPrintable *sender, QString &value)>;

// The display text of one field of the current record.
class QRDBText : public QRPrintable
{
public:
    QRDBText(const QString &name, int left, int top, int width, int height)
        : QRPrintable(Kind::DBText, name, left, top, width, height)
    {
    }
    Field *DataField = nullptr;
    QRPrintHook OnPrint;
};

// A text the report makes itself: the date with a prefix, or the page number.
class QRSysData : public QRPrintable
{
public:
    enum class Data { Date, PageNumber };

    QRSysData(const QString &name, Data data, int left, int top, int width, int height)
        : QRPrintable(Kind::SysData, name, left, top, width, height), m_data(data)
    {
    }
    Data data() const { return m_data; }
    QString Text; // printed in front of the value

private:
    Data m_data;
};

// A box: black outline one device pixel wide, white fill.
class QRShape : public QRPrintable
{
public:
    QRShape(const QString &name, int left, int top, int width, int height)
        : QRPrintable(Kind::Shape, name, left, top, width, height)
    {
    }
};

enum class QRBandType { PageHeader, Title, ColumnHeader, Detail, PageFooter };

// A horizontal strip of the page, as wide as the space between the margins,
// printed whole; its elements are drawn in the order they were added.
class QRBand
{
public:
    QRBand(const QString &name, QRBandType type, int height) : m_name(name), m_type(type), Height(height) {}
    QRBand(const QRBand &) = delete;
    QRBand &operator=(const QRBand &) = delete;

    const QString &Name() const { return m_name; }
    QRBandType BandType() const { return m_type; }
    void add(QRPrintable *element) { m_elements.push_back(element); }
    const std::vector<QRPrintable *> &elements() const { return m_elements; }

private:
    QString m_name;
    QRBandType m_type;

public:
    int Height; // layout units

private:
    std::vector<QRPrintable *> m_elements;
};
