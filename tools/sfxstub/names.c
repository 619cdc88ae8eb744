/* Entry names: the name rule that turns stored bytes into a UTF-8 name, and the checks
 * that keep every name and link below the target directory (the same rules as the
 * extraction library's). */
#include "sfx.h"
#include "util/NameTables.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

/* The name rule: a Unicode Path extra field whose CRC matches the stored name wins, else the
 * stored bytes when they are valid UTF-8, else the bytes read as code page 437. */
char *entry_name(const struct entry *e, int *nul)
{
    const unsigned char *s = e->name;
    size_t n = e->name_length, length = 0;
    const unsigned char *u = extra_field(e->extra, e->extra_length, 0x7075, &length);
    int decode = 0;
    /* Version 1, NameCRC32 of the stored name, then the UTF-8 name. */
    if (u && length > 5 && u[0] == 1 && pellux_le32(u + 1) == crc32(0, e->name, (uInt)e->name_length)
        && pellux_valid_utf8(u + 5, length - 5))
        s = u + 5, n = length - 5;
    else
        decode = !pellux_valid_utf8(s, n);
    /* A NUL would cut the name short on disk: the caller refuses it, naming what precedes. */
    const unsigned char *cut = memchr(s, 0, n);
    *nul = cut != NULL;
    if (cut)
        n = (size_t)(cut - s);
    char *out = malloc(n * 3 + 1), *o = out;
    if (!out)
        abort();
    for (size_t i = 0; i < n; i++) {
        unsigned c = decode && s[i] >= 0x80 ? pellux_cp437_high[s[i] - 0x80] : s[i];
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

/* Control characters would steer the terminal and bidirectional formatting characters
 * would disguise the text: they show as \xHH and \uHHHH (the code point, upper case). The
 * text is UTF-8, so a byte pattern finds them. */
char *visible(const char *text)
{
    char *out = malloc(strlen(text) * 4 + 1), *o = out;
    if (!out)
        abort();
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        unsigned cp = *p, skip = 0;
        if (p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F)
            cp = p[1], skip = 1;
        else if (p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0x8E || p[2] == 0x8F || (p[2] >= 0xAA && p[2] <= 0xAE)))
            cp = 0x2000 | (p[2] & 0x3F), skip = 2;
        else if (p[0] == 0xE2 && p[1] == 0x81 && p[2] >= 0xA6 && p[2] <= 0xA9)
            cp = 0x2040 | (p[2] & 0x3F), skip = 2;
        else if (cp >= 0x20 && cp != 0x7F) {
            *o++ = (char)cp;
            continue;
        }
        o += sprintf(o, cp > 0xFF ? "\\u%04X" : "\\x%02X", cp);
        p += skip;
    }
    *o = 0;
    return out;
}

void put_name(FILE *f, const char *name)
{
    char *shown = visible(name);
    fputs(shown, f);
    free(shown);
}
