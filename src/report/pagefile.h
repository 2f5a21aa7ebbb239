#pragma once

#include "page.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The report page file: the generated pages' display lists behind a magic
// header, a format version, the payload's length and its CRC-32. Every count
// and value is checked against limits before anything is allocated, so a file
// that is not one of ours, or is damaged, is refused with a message and never
// crashes the reader.
namespace report {

inline constexpr char kPageFileMagic[8] = {'K', 'O', 'R', 'P', 'A', 'G', 'E', 'S'};
inline constexpr quint16 kPageFileVersion = 1;
inline constexpr int kPageFileHeaderSize = 8 + 2 + 2 + 4 + 4;

// Limits of what a page file may hold.
inline constexpr quint32 kMaxPages = 100000;
inline constexpr quint32 kMaxItemsPerPage = 200000;
inline constexpr quint32 kMaxFontsPerPage = 1024;
inline constexpr quint32 kMaxStringBytes = 16384;
inline constexpr qint64 kMaxPageFileBytes = qint64(1) << 30;

QByteArray encodePages(const std::vector<ReportPage> &pages);

struct DecodedPages
{
    std::vector<ReportPage> pages;
    QString error; // empty when the pages were read
};
DecodedPages decodePages(const QByteArray &bytes);

// The payload wrapped in a valid header (the fuzzer uses it to reach the
// payload reader behind the checksum).
QByteArray wrapPayload(const QByteArray &payload, quint16 version = kPageFileVersion);
quint32 crc32(const QByteArray &bytes);

// Writing and reading files. Writing goes through QSaveFile: a failure
// leaves the old file as it was. They return an error text, empty on success.
QString writePageFile(const QString &path, const std::vector<ReportPage> &pages);
QString readPageFile(const QString &path, std::vector<ReportPage> &pages);
QString writePdf(const QString &path, const std::vector<ReportPage> &pages);

} // namespace report
