#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <memory>
#include <optional>

namespace exchange {

// The encodings an imported file may come in. A UTF-8 byte order mark at the
// start is skipped in both UTF-8 encodings; UTF-16 takes its byte order from
// its mark (little-endian without one, as Windows writes it).
enum class Encoding { Utf8, Utf8Bom, Windows1251, Utf16 };

// "UTF-8", "UTF-8 с BOM", "Windows-1251", "UTF-16".
QString encodingName(Encoding encoding);
// The names a script may give: "utf-8", "utf8", "utf-8-bom", "windows-1251",
// "cp1251", "1251", "utf-16" (letter case ignored).
std::optional<Encoding> encodingFromName(const QString &name);

// The encoding of a file from its first bytes: its byte order mark, else
// UTF-8 when the bytes are valid UTF-8 (a sequence cut by the end of the
// sample counts as valid unless `whole`), else Windows-1251, which spreadsheet
// programs on Russian desktops write.
Encoding detectEncoding(QByteArrayView sample, bool whole);

// Turns the bytes of one field into text. UTF-16 files reach it already
// turned into UTF-8 by the reader.
class FieldDecoder
{
public:
    explicit FieldDecoder(Encoding encoding);
    ~FieldDecoder();
    FieldDecoder(const FieldDecoder &) = delete;
    FieldDecoder &operator=(const FieldDecoder &) = delete;

    QString decode(const char *bytes, size_t size);

private:
    bool m_singleByte;
    QStringDecoder m_qt;
    struct Iconv;
    std::unique_ptr<Iconv> m_iconv; // where Qt has no Windows-1251 decoder
};

} // namespace exchange
