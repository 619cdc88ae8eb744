/* Entry names: the name rule that turns stored bytes into a UTF-8 name, and the checks
 * that keep every name and link below the target directory (the same rules as the
 * extraction library's). */
#include "sfx.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

static int valid_utf8(const unsigned char *s, size_t n)
{
    size_t i = 0;
    while (i < n) {
        unsigned c = s[i], extra;
        uint32_t cp;
        if (c < 0x80) {
            i++;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            extra = 1, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3, cp = c & 0x07;
        else
            return 0; /* stray continuation byte, overlong lead, or beyond U+10FFFF */
        if (i + extra >= n)
            return 0; /* sequence cut short by the end of the name */
        for (unsigned k = 1; k <= extra; k++) {
            if ((s[i + k] & 0xC0) != 0x80)
                return 0;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        i += extra + 1;
    }
    return 1;
}

/* Code page 437, bytes 0x80..0xFF. */
static const uint16_t cp437[128] = {
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

/* The name rule: a Unicode Path extra field whose CRC matches the stored name wins, else the
 * stored bytes when they are valid UTF-8, else the bytes read as code page 437. */
char *entry_name(const struct entry *e, int *nul)
{
    const unsigned char *s = e->name;
    size_t n = e->name_length, length = 0;
    const unsigned char *u = extra_field(e->extra, e->extra_length, 0x7075, &length);
    int decode = 0;
    /* Version 1, NameCRC32 of the stored name, then the UTF-8 name. */
    if (u && length > 5 && u[0] == 1 && le32(u + 1) == crc32(0, e->name, (uInt)e->name_length)
        && valid_utf8(u + 5, length - 5))
        s = u + 5, n = length - 5;
    else
        decode = !valid_utf8(s, n);
    /* A NUL would cut the name short on disk: the caller refuses it, naming what precedes. */
    const unsigned char *cut = memchr(s, 0, n);
    *nul = cut != NULL;
    if (cut)
        n = (size_t)(cut - s);
    char *out = malloc(n * 3 + 1), *o = out;
    if (!out)
        abort();
    for (size_t i = 0; i < n; i++) {
        unsigned c = decode && s[i] >= 0x80 ? cp437[s[i] - 0x80] : s[i];
        if (c < 0x80 || !decode) {
            *o++ = (char)c;
        } else if (c < 0x800) {
            *o++ = (char)(0xC0 | c >> 6);
            *o++ = (char)(0x80 | (c & 0x3F));
        } else {
            *o++ = (char)(0xE0 | c >> 12);
            *o++ = (char)(0x80 | (c >> 6 & 0x3F));
            *o++ = (char)(0x80 | (c & 0x3F));
        }
    }
    *o = 0;
    return out;
}

int is_separator(char c) { return c == '/' || c == '\\'; }

/* "C:x" is relative to drive C's current directory on the system that wrote it: a
 * drive prefix is refused with or without a separator after it. */
static int drive_prefix(const char *name)
{
    char c = (char)(name[0] | 0x20);
    return c >= 'a' && c <= 'z' && name[1] == ':';
}

/* Cuts the name at both separators in place and keeps the parts that name something;
 * returns their count, or 0 with the reason for a name that would not stay inside. */
size_t safe_split(char *name, char ***parts, int *is_dir, const char **why)
{
    size_t length = strlen(name), count = 0;
    *parts = NULL;
    *why = "empty name";
    if (length == 0)
        return 0;
    if (is_separator(name[0]) || drive_prefix(name)) {
        *why = "absolute path";
        return 0;
    }
    *is_dir = is_separator(name[length - 1]);
    char **kept = malloc((length / 2 + 2) * sizeof *kept);
    if (!kept)
        abort();
    for (char *p = name, *start = name;; p++) {
        if (*p && !is_separator(*p))
            continue;
        int last = *p == 0;
        *p = 0;
        if (strcmp(start, "..") == 0) {
            *why = "path leads outside the target directory";
            break;
        }
        if (*start && strcmp(start, ".") != 0)
            kept[count++] = start;
        if (last) {
            if (count) {
                *parts = kept;
                return count;
            }
            break;
        }
        start = p + 1;
    }
    free(kept);
    return 0;
}

/* A link placed link_depth directories down stays inside when its target is relative and
 * any ".." comes before the first name: later ones could climb out through another link. */
int link_stays_inside(size_t link_depth, const char *target, size_t length)
{
    if (length == 0 || is_separator(target[0]) || memchr(target, 0, length))
        return 0;
    long depth = (long)link_depth;
    int descending = 0;
    for (size_t i = 0; i < length;) {
        size_t j = i;
        while (j < length && !is_separator(target[j]))
            j++;
        if (j - i == 2 && target[i] == '.' && target[i + 1] == '.') {
            if (descending || --depth < 0)
                return 0;
        } else if (j > i && !(j - i == 1 && target[i] == '.')) {
            descending = 1;
        }
        i = j + 1;
    }
    return 1;
}

/* Control characters in a name would steer the terminal: they are shown as \xHH. */
void put_name(FILE *f, const char *name)
{
    for (const unsigned char *p = (const unsigned char *)name; *p; p++) {
        if (*p < 0x20 || *p == 0x7F)
            fprintf(f, "\\x%02X", *p);
        else
            fputc(*p, f);
    }
}
