/* The pieces of the name rule that the C extractor stub (tools/sfxstub/) shares with
 * NameCodec: the UTF-8 test, code page 437's upper half, the legacy code page of the
 * user's language and the test of how plausible a decoded name looks. Plain C, so that
 * both languages include the one copy. */
#ifndef PELLUX_UTIL_NAMETABLES_H
#define PELLUX_UTIL_NAMETABLES_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Code page 437, bytes 0x80..0xFF, as Unicode code points. */
static const uint16_t pellux_cp437_high[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

/* 1 when the n bytes at s are well-formed UTF-8: no overlong forms, no surrogates,
 * nothing past U+10FFFF. */
static inline int pellux_valid_utf8(const unsigned char *s, size_t n)
{
    size_t i = 0;
    while (i < n) {
        unsigned c = s[i], extra, k;
        uint32_t cp;
        if (c < 0x80) {
            i++;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07u;
        } else {
            return 0; /* stray continuation byte, overlong lead, or beyond U+10FFFF */
        }
        if (i + extra >= n)
            return 0; /* sequence cut short by the end of the name */
        for (k = 1; k <= extra; k++) {
            if ((s[i + k] & 0xC0u) != 0x80u)
                return 0;
            cp = (cp << 6) | (s[i + k] & 0x3Fu);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        i += extra + 1;
    }
    return 1;
}

/* The code pages a legacy name may be in, each the OEM code page Windows uses for some
 * languages. When the user's own reads the names of an archive badly, the first of these
 * that reads them best is taken instead. */
static const char *const pellux_code_pages[] = {
    "CP437", "CP850", "CP866", "CP737", "CP862", "CP857", "CP932", "CP936", "CP950", "CP949",
};
#define PELLUX_CODE_PAGE_COUNT (sizeof pellux_code_pages / sizeof pellux_code_pages[0])

/* Hosts of "version made by" (APPNOTE 4.4.2) whose tools write names in the bytes of their
 * own locale, mostly UTF-8: Unix, BeOS and OS X. Every other host, MS-DOS (0), Windows
 * (10, 11, 14) and any unknown one, gets the user's OEM code page. */
static inline int pellux_unix_like_host(unsigned version_made_by)
{
    unsigned host = version_made_by >> 8;
    return host == 3 || host == 16 || host == 19;
}

static inline int pellux_word_in(const char *word, size_t n, const char *list)
{
    for (const char *p = list; *p;) {
        size_t k = strcspn(p, " ");
        if (k == n && strncmp(p, word, n) == 0)
            return 1;
        p += k;
        p += *p == ' ';
    }
    return 0;
}

/* The OEM code page Windows uses for the language of a locale name such as "ru_RU.UTF-8"
 * or "zh_TW". */
static inline const char *pellux_locale_code_page(const char *locale)
{
    char lang[8], territory[8];
    size_t n = 0, t = 0;
    const char *p = locale ? locale : "";
    while (*p && *p != '_' && *p != '.' && *p != '@' && n + 1 < sizeof lang) {
        char c = *p++;
        lang[n++] = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    }
    lang[n] = 0;
    if (*p == '_')
        for (p++; *p && *p != '.' && *p != '@' && t + 1 < sizeof territory; p++)
            territory[t++] = *p >= 'a' && *p <= 'z' ? (char)(*p - 'a' + 'A') : *p;
    territory[t] = 0;
    if (pellux_word_in(lang, n, "ru uk be bg kk ky tt mn mk"))
        return "CP866";
    if (pellux_word_in(lang, n, "ja"))
        return "CP932";
    if (pellux_word_in(lang, n, "zh"))
        return pellux_word_in(territory, t, "TW HK MO") ? "CP950" : "CP936";
    if (pellux_word_in(lang, n, "ko"))
        return "CP949";
    if (pellux_word_in(lang, n, "el"))
        return "CP737";
    if (pellux_word_in(lang, n, "he iw"))
        return "CP862";
    if (pellux_word_in(lang, n, "tr"))
        return "CP857";
    if (pellux_word_in(lang, n,
                       "de fr es it pt nl da sv no nb nn fi is ca ga eu gl lb fo gd br oc rm af sq wa fy an ast"))
        return "CP850";
    return "CP437";
}

/* The user's language as the C library takes it: the first of LC_ALL, LC_CTYPE and LANG
 * that is set and not empty. */
static inline const char *pellux_user_locale(void)
{
    static const char *const names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (size_t i = 0; i < 3; i++) {
        const char *value = getenv(names[i]);
        if (value && *value)
            return value;
    }
    return "";
}

/* How a decoded name looks. Bad: control characters and runs of box-drawing or block
 * characters, which a right reading of a file name hardly holds. Odd: what makes one
 * clean reading less likely than another: symbols, private-use characters, and letters
 * of two alphabets side by side ("caf" and a Greek letter). */
struct pellux_name_score {
    unsigned long bad, odd;
};

/* 1 Latin, 2 Greek, 3 Cyrillic, 4 Hebrew; 0 anything else. */
static inline int pellux_script(uint32_t cp)
{
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= 0xC0 && cp <= 0x24F && cp != 0xD7 && cp != 0xF7))
        return 1;
    if (cp >= 0x370 && cp <= 0x3FF)
        return 2;
    if (cp >= 0x400 && cp <= 0x4FF)
        return 3;
    if (cp >= 0x590 && cp <= 0x5FF)
        return 4;
    return 0;
}

/* Adds the n bytes of well-formed UTF-8 at s to the score. */
static inline void pellux_score_name(const unsigned char *s, size_t n, struct pellux_name_score *score)
{
    int previous_script = 0, previous_box = 0;
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = length == 1 ? c : c & (0x7Fu >> length);
        for (size_t k = 1; k < length && i + k < n; k++)
            cp = cp << 6 | (s[i + k] & 0x3Fu);
        i += length;
        int box = cp >= 0x2500 && cp <= 0x259F, script = pellux_script(cp);
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (box && previous_box))
            score->bad++;
        else if (box || (cp >= 0xA1 && cp <= 0xBF) || cp == 0xD7 || cp == 0xF7 || cp == 0x192
                 || (cp >= 0x2010 && cp <= 0x2BFF) || (cp >= 0xE000 && cp <= 0xF8FF) || cp == 0xFFFD)
            score->odd++;
        if (script && previous_script && script != previous_script)
            score->odd += 2;
        previous_script = script;
        previous_box = box;
    }
}

#endif
