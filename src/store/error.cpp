#include "error.h"

// Not inlined, so that the return address is a real address at (or right
// next to) the throw site.
__attribute__((noinline)) SystemError::SystemError(QString message, std::source_location where)
    : m_message(std::move(message)), m_utf8(m_message.toStdString()),
      m_site(__builtin_extract_return_addr(__builtin_return_address(0))), m_where(where)
{
}
