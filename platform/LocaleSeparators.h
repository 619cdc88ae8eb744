#pragma once
// The user's date and time separators, taken from the C library's locale (call
// setlocale(LC_ALL, "") first): the character after the first conversion of
// nl_langinfo(D_FMT) / nl_langinfo(T_FMT). The POSIX locale gives '/' and ':'.

namespace pellux {

char DateSeparator();
char TimeSeparator();
// The separator that follows the first conversion in a strftime-style format, or
// fallback when there is none.
char SeparatorAfterFirstConversion(const char *format, char fallback);

} // namespace pellux
