#pragma once

#include <source_location>

// libstdc++ 12 declares std::source_location only when the compiler has
// __builtin_source_location; clang before 15 does not, and the sanitizer
// build uses clang 14. This stand-in has the same members, filled by the
// older builtins clang 14 does have, which are evaluated at the call site
// in a default argument just as current() is.
#if !defined(__cpp_lib_source_location)
#include <cstdint>

namespace std {

struct source_location
{
    static constexpr source_location current(const char *file = __builtin_FILE(),
                                             const char *function = __builtin_FUNCTION(),
                                             uint_least32_t line = __builtin_LINE(),
                                             uint_least32_t column = __builtin_COLUMN()) noexcept
    {
        source_location where;
        where.m_file = file;
        where.m_function = function;
        where.m_line = line;
        where.m_column = column;
        return where;
    }

    constexpr source_location() noexcept = default;
    constexpr uint_least32_t line() const noexcept { return m_line; }
    constexpr uint_least32_t column() const noexcept { return m_column; }
    constexpr const char *file_name() const noexcept { return m_file; }
    constexpr const char *function_name() const noexcept { return m_function; }

private:
    const char *m_file = "";
    const char *m_function = "";
    uint_least32_t m_line = 0;
    uint_least32_t m_column = 0;
};

} // namespace std
#endif
