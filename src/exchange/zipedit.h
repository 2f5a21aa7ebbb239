#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace exchange {

// Rewrites some entries of a ZIP archive (as libxlsxwriter writes one: no
// ZIP64, entries stored or deflated). `edit` is asked for every entry by its
// name and gives the entry's new content, or nothing to keep it as it is; it
// is handed the entry's content only when `wants` says it needs it.
// Throws ExchangeError when the archive cannot be read.
QByteArray editZip(const QByteArray &zip, const std::function<bool(const QString &name)> &wants,
                   const std::function<std::optional<QByteArray>(const QString &name, const QByteArray &content)> &edit);

} // namespace exchange
