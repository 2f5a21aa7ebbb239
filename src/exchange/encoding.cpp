#include "encoding.h"

#include "exchangeerror.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace exchange {

QString encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Utf8Bom:
        return QStringLiteral("UTF-8 с BOM");
    case Encoding::Windows1251:
        return QStringLiteral("Windows-1251");
    case Encoding::Utf16:
        return QStringLiteral("UTF-16");
    }
    return {};
}

std::optional<Encoding> encodingFromName(const QString &name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("utf-8") || n == QLatin1String("utf8"))
        return Encoding::Utf8;
    if (n == QLatin1String("utf-8-bom") || n == QLatin1String("utf8-bom") || n == QLatin1String("utf-8-sig"))
        return Encoding::Utf8Bom;
    if (n == QLatin1String("windows-1251") || n == QLatin1String("cp1251") || n == QLatin1String("1251")
        || n == QLatin1String("win1251"))
        return Encoding::Windows1251;
    if (n == QLatin1String("utf-16") || n == QLatin1String("utf16"))
        return Encoding::Utf16;
    return std::nullopt;
}

namespace {

// Whether the bytes are UTF-8; `whole` false lets a sequence run past the end.
bool validUtf8(QByteArrayView bytes, bool whole)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned int lowest = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            lowest = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            lowest = 0x800;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            length = 4;
            lowest = 0x10000;
        } else {
            return false;
        }
        if (i + length > n)
            return !whole;
        unsigned int code = c & (0xFF >> (length + 1));
        for (int k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

Encoding detectEncoding(QByteArrayView sample, bool whole)
{
    if (sample.startsWith("\xEF\xBB\xBF"))
        return Encoding::Utf8Bom;
    if (sample.startsWith("\xFF\xFE") || sample.startsWith("\xFE\xFF"))
        return Encoding::Utf16;
    return validUtf8(sample, whole) ? Encoding::Utf8 : Encoding::Windows1251;
}

struct FieldDecoder::Iconv
{
    iconv_t handle = reinterpret_cast<iconv_t>(-1);
    ~Iconv()
    {
        if (handle != reinterpret_cast<iconv_t>(-1))
            iconv_close(handle);
    }
};

FieldDecoder::FieldDecoder(Encoding encoding) : m_singleByte(encoding == Encoding::Windows1251)
{
    if (!m_singleByte)
        return;
    m_qt = QStringDecoder("windows-1251");
    if (m_qt.isValid())
        return;
    m_iconv = std::make_unique<Iconv>();
    m_iconv->handle = iconv_open("UTF-8", "WINDOWS-1251");
    if (m_iconv->handle == reinterpret_cast<iconv_t>(-1))
        throw ExchangeError(QStringLiteral("Кодировка Windows-1251 недоступна в этой системе"));
}

FieldDecoder::~FieldDecoder() = default;

QString FieldDecoder::decode(const char *bytes, size_t size)
{
    if (!m_singleByte)
        return QString::fromUtf8(bytes, qsizetype(size));
    if (!m_iconv)
        return m_qt.decode(QByteArrayView(bytes, qsizetype(size)));
    // Every byte of Windows-1251 takes at most three bytes of UTF-8.
    std::vector<char> out(size * 3 + 1);
    char *in = const_cast<char *>(bytes);
    size_t inLeft = size;
    char *outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(m_iconv->handle, &in, &inLeft, &outPtr, &outLeft) == size_t(-1)) {
            if (errno != EILSEQ)
                break;
            // The one byte Windows-1251 leaves undefined (0x98) becomes U+FFFD.
            ++in;
            --inLeft;
            const char replacement[] = "\xEF\xBF\xBD";
            for (char c : {replacement[0], replacement[1], replacement[2]}) {
                *outPtr++ = c;
                --outLeft;
            }
        }
    }
    return QString::fromUtf8(out.data(), qsizetype(outPtr - out.data()));
}

} // namespace exchange
