/* Entry names: the name rule that turns stored bytes into a UTF-8 name, and the checks
 * that keep every name and link below the target directory (the same rules as the
 * extraction library's). */
#include "sfx.h"
#include "util/NameTables.h"

#include <iconv.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <zlib.h>

#define NO_ICONV ((iconv_t)-1)

/* The code page of this archive's legacy names (names_choose), and its converter. */
static const char *oem_page;
static iconv_t oem_cd = NO_ICONV;

/* A name with no valid Unicode Path field: whether it is UTF-8, or else which kind. */
enum kind { UNICODE_PATH, UTF8, FLAGGED_BROKEN, LEGACY_OEM, LEGACY_OTHER };

static enum kind name_kind(const struct entry *e, const unsigned char **s, size_t *n)
{
    size_t length = 0;
    const unsigned char *u = extra_field(e->extra, e->extra_length, 0x7075, &length);
    *s = e->name;
    *n = e->name_length;
    /* Version 1, NameCRC32 of the stored name, then the UTF-8 name. */
    if (u && length > 5 && u[0] == 1 && pellux_le32(u + 1) == crc32(0, e->name, (uInt)e->name_length)
        && pellux_valid_utf8(u + 5, length - 5)) {
        *s = u + 5, *n = length - 5;
        return UNICODE_PATH;
    }
    if (pellux_valid_utf8(e->name, e->name_length))
        return UTF8;
    if (e->flags & 0x0800)
        return FLAGGED_BROKEN;
    return pellux_unix_like_host(e->version_made_by) ? LEGACY_OTHER : LEGACY_OEM;
}

static char *put_utf8(char *o, unsigned c)
{
    if (c < 0x80) {
        *o++ = (char)c;
    } else if (c < 0x800) {
        *o++ = (char)(0xC0 | c >> 6);
        *o++ = (char)(0x80 | (c & 0x3F));
    } else {
        *o++ = (char)(0xE0 | c >> 12);
        *o++ = (char)(0x80 | (c >> 6 & 0x3F));
        *o++ = (char)(0x80 | (c & 0x3F));
    }
    return o;
}

static int hex_upper(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

static size_t utf8_length(unsigned char c) { return c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

/* The n bytes in UTF-8, malloc'd: through cd, or code page 437 when cd is NO_ICONV; bytes
 * that are not of the code page (of UTF-8, with utf8 set) as \xHH, or NULL when strict. */
static char *decode(iconv_t cd, int utf8, const unsigned char *s, size_t n, int strict)
{
    /* Each byte becomes at most 4 (a character of the BMP takes 3, \xHH 4). */
    char *out = malloc(n * 4 + 8), *o = out;
    if (!out)
        abort();
    if (utf8) {
        for (size_t i = 0; i < n;) {
            size_t k = utf8_length(s[i]);
            if (s[i] == '\\') {
                *o++ = '/', i++; /* the escapes' backslashes are the only ones */
            } else if (i + k <= n && pellux_valid_utf8(s + i, k)) {
                memcpy(o, s + i, k);
                o += k, i += k;
            } else {
                o += sprintf(o, "\\x%02X", s[i++]);
            }
        }
    } else if (cd == NO_ICONV) {
        for (size_t i = 0; i < n; i++)
            o = put_utf8(o, s[i] < 0x80 ? s[i] : pellux_cp437_high[s[i] - 0x80]);
    } else {
        char *in = (char *)s;
        size_t in_left = n, out_left = n * 4 + 7;
        int escaped = 0;
        iconv(cd, NULL, NULL, NULL, NULL);
        while (in_left > 0 && iconv(cd, &in, &in_left, &o, &out_left) == (size_t)-1) {
            if (strict) {
                free(out);
                return NULL;
            }
            escaped = 1;
            int w = sprintf(o, "\\x%02X", (unsigned char)*in);
            o += w, out_left -= (size_t)w, in++, in_left--;
            iconv(cd, NULL, NULL, NULL, NULL);
        }
        iconv(cd, NULL, NULL, &o, &out_left);
        /* With escapes in it, the name's separators become "/". */
        for (char *q = out; escaped && q < o; q++)
            if (*q == '\\' && !(q + 3 < o && q[1] == 'x' && hex_upper(q[2]) && hex_upper(q[3])))
                *q = '/';
        if (!pellux_valid_utf8((const unsigned char *)out, (size_t)(o - out))) {
            if (strict) {
                free(out);
                return NULL;
            }
            *o = 0;
            char *escaped = decode(NO_ICONV, 1, (const unsigned char *)out, (size_t)(o - out), 0);
            free(out);
            return escaped;
        }
    }
    *o = 0;
    return out;
}

static iconv_t open_page(const char *page)
{
    return strcasecmp(page, "CP437") == 0 ? NO_ICONV : iconv_open("UTF-8", page);
}

/* How this archive's legacy names read in one code page: 0 when one does not read. */
static int score_page(struct archive *a, const char *page, struct pellux_name_score *score)
{
    iconv_t cd = open_page(page);
    struct entry e;
    int ok = strcasecmp(page, "CP437") == 0 || cd != NO_ICONV;
    score->bad = score->odd = 0;
    for (a->pos = 0; ok && archive_next(a, &e) > 0;) {
        const unsigned char *s;
        size_t n;
        if (name_kind(&e, &s, &n) != LEGACY_OEM)
            continue;
        char *text = decode(cd, 0, s, n, 1);
        ok = text != NULL;
        if (text)
            pellux_score_name((const unsigned char *)text, strlen(text), score);
        free(text);
    }
    a->pos = 0;
    if (cd != NO_ICONV)
        iconv_close(cd);
    return ok;
}

/* The listing's choice: the user's OEM code page, unless it reads the archive's legacy
 * names badly and another reads them all cleanly; then the cleanest of those. */
void names_choose(struct archive *a)
{
    struct pellux_name_score score, best_score = {0, 0};
    const char *best = NULL;
    oem_page = pellux_locale_code_page(pellux_user_locale());
    if (!score_page(a, oem_page, &score) || score.bad > 0) {
        for (size_t i = 0; i < PELLUX_CODE_PAGE_COUNT; i++) {
            const char *page = pellux_code_pages[i];
            if (strcmp(page, oem_page) != 0 && score_page(a, page, &score) && score.bad == 0
                && (!best || score.odd < best_score.odd))
                best = page, best_score = score;
        }
        if (best)
            oem_page = best;
    }
    oem_cd = open_page(oem_page);
}

/* The name rule: a Unicode Path extra field whose CRC matches the stored name wins, else the
 * stored bytes when they are valid UTF-8 (flagged UTF-8 but not: each bad byte as \xHH),
 * else the bytes read in the archive's OEM code page, or in code page 437 for names made
 * on a Unix-like host. */
char *entry_name(const struct entry *e, int *nul)
{
    const unsigned char *s;
    size_t n;
    enum kind kind = name_kind(e, &s, &n);
    if (kind == LEGACY_OEM && !oem_page)
        oem_page = pellux_locale_code_page(pellux_user_locale()), oem_cd = open_page(oem_page);
    /* A NUL would cut the name short on disk: the caller refuses it, naming what precedes. */
    const unsigned char *cut = memchr(s, 0, n);
    *nul = cut != NULL;
    if (cut)
        n = (size_t)(cut - s);
    if (kind == UNICODE_PATH || kind == UTF8) {
        char *out = malloc(n + 1);
        if (!out)
            abort();
        memcpy(out, s, n);
        out[n] = 0;
        return out;
    }
    return decode(kind == LEGACY_OEM ? oem_cd : NO_ICONV, kind == FLAGGED_BROKEN, s, n, 0);
}

int is_separator(char c) { return c == '/' || c == '\\'; }

/* A byte the name rule could not read shows as \xHH, and that backslash separates
 * nothing (the name's separators are "/" then). */
static int splits_at(const char *p)
{
    return *p == '/' || (*p == '\\' && !(p[1] == 'x' && hex_upper(p[2]) && hex_upper(p[3])));
}

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
        if (*p && !splits_at(p))
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
