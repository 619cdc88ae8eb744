#include "platform/LocaleSeparators.h"

#include <langinfo.h>

namespace pellux {

char SeparatorAfterFirstConversion(const char *format, char fallback)
{
    if (!format)
        return fallback;
    for (const char *p = format; *p; ++p) {
        if (*p != '%')
            continue;
        ++p;
        // Skip flags, width and the E/O modifiers of a conversion such as "%-d" or "%Ey".
        while (*p == '-' || *p == '_' || *p == '0' || *p == '^' || *p == '#' || (*p >= '1' && *p <= '9'))
            ++p;
        if (*p == 'E' || *p == 'O')
            ++p;
        if (!*p)
            return fallback;
        const char next = p[1];
        // A separator of more than one byte ("年" in ja_JP.UTF-8) cannot be one char.
        if (next == '\0' || next == '%' || static_cast<unsigned char>(next) >= 0x80)
            return fallback;
        return next;
    }
    return fallback;
}

char DateSeparator() { return SeparatorAfterFirstConversion(nl_langinfo(D_FMT), '/'); }

char TimeSeparator() { return SeparatorAfterFirstConversion(nl_langinfo(T_FMT), ':'); }

} // namespace pellux
