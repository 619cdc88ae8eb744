/* Finding the appended archive and reading its central directory. */
#include "sfx.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum {
    END_SIZE = 22,     /* end of central directory record without the comment */
    LOCATOR_SIZE = 20, /* zip64 end of central directory locator */
    END64_SIZE = 56,   /* zip64 end of central directory record, no extensible data */
    CENTRAL_SIZE = 46, /* central directory file header without name, extra, comment */
    SEARCH = 65535 + END_SIZE,
};

uint16_t le16(const unsigned char *p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char *p) { return le16(p) | (uint32_t)le16(p + 2) << 16; }
uint64_t le64(const unsigned char *p) { return le32(p) | (uint64_t)le32(p + 4) << 32; }

/* "PK" followed by the two record bytes. Compared byte by byte and never inlined, so
 * that no signature stands whole as an immediate in the stub's code: readers that scan
 * from the front of the file would take that for the archive's first local header. */
__attribute__((noinline)) int is_signature(const unsigned char *p, int third, int fourth)
{
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

static int read_at(int fd, void *buffer, size_t length, uint64_t offset)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = pread(fd, (char *)buffer + done, length - done, (off_t)(offset + done));
        if (n <= 0)
            return -1;
        done += (size_t)n;
    }
    return 0;
}

/* Reads the zip64 end record behind the locator; its stated offset is only right when the
 * archive was adjusted, so the place right before the locator is tried first. */
static int read_end64(struct archive *a, uint64_t locator, uint64_t *cd_end, uint64_t *cd_size, uint64_t *cd_offset)
{
    unsigned char b[END64_SIZE];
    if (locator < END64_SIZE || read_at(a->fd, b, LOCATOR_SIZE, locator) || !is_signature(b, 6, 7))
        return 0;
    uint64_t places[2] = {locator - END64_SIZE, le64(b + 8)};
    for (int i = 0; i < 2; i++) {
        if (places[i] + END64_SIZE > locator || read_at(a->fd, b, END64_SIZE, places[i]) || !is_signature(b, 6, 6))
            continue;
        *cd_end = places[i];
        *cd_size = le64(b + 40);
        *cd_offset = le64(b + 48);
        return 1;
    }
    return 0;
}

/* Whether an end record at end_pos leads to a central directory; if so, where it is. The
 * stub's own code holds the signature bytes too, so a bare candidate is not enough. */
static int locate_directory(struct archive *a, const unsigned char *end, uint64_t end_pos, uint64_t tail_end)
{
    unsigned char signature[4];
    uint64_t cd_end = end_pos, cd_size = le32(end + 12), cd_offset = le32(end + 16);
    if (le32(end + 4) != 0 || end_pos + END_SIZE + le16(end + 20) > tail_end)
        return 0; /* another disk's record, or a comment running past the file's end */
    if (end_pos >= LOCATOR_SIZE)
        read_end64(a, end_pos - LOCATOR_SIZE, &cd_end, &cd_size, &cd_offset);
    if (cd_size > cd_end || cd_size > SIZE_MAX)
        return 0;
    if (cd_size && (read_at(a->fd, signature, 4, cd_end - cd_size) || !is_signature(signature, 1, 2)))
        return 0;
    /* The directory ends where the end record starts; where the offsets say it begins
     * tells how far everything moved when a stub went in front without adjusting. */
    a->cd_start = cd_end - cd_size;
    a->shift = (int64_t)(a->cd_start - cd_offset);
    a->cd_size = cd_size;
    return 1;
}

int archive_open(struct archive *a, const char *path)
{
    static unsigned char tail[SEARCH];
    struct stat st;
    memset(a, 0, sizeof *a);
    a->fd = open(path, O_RDONLY | O_CLOEXEC);
    if (a->fd < 0 || fstat(a->fd, &st) || st.st_size < END_SIZE)
        return -1;
    a->file_size = (uint64_t)st.st_size;
    size_t length = a->file_size < SEARCH ? (size_t)a->file_size : SEARCH;
    uint64_t base = a->file_size - length;
    if (read_at(a->fd, tail, length, base))
        return -1;
    /* The last end record that leads to a directory wins; a comment may follow it. */
    for (size_t i = length - END_SIZE + 1; i-- > 0;) {
        if (!is_signature(tail + i, 5, 6) || !locate_directory(a, tail + i, base + i, a->file_size))
            continue;
        a->cd = malloc(a->cd_size ? (size_t)a->cd_size : 1);
        if (!a->cd || read_at(a->fd, a->cd, (size_t)a->cd_size, a->cd_start))
            return -2;
        return 0;
    }
    return -1;
}

const unsigned char *extra_field(const unsigned char *extra, size_t length, uint16_t id, size_t *field_length)
{
    size_t i = 0;
    while (i + 4 <= length) {
        size_t size = le16(extra + i + 2);
        if (i + 4 + size > length)
            break;
        if (le16(extra + i) == id) {
            *field_length = size;
            return extra + i + 4;
        }
        i += 4 + size;
    }
    return NULL;
}

int archive_next(struct archive *a, struct entry *e)
{
    const unsigned char *h = a->cd + a->pos;
    if (a->pos == a->cd_size || (a->pos + 4 <= a->cd_size && is_signature(h, 5, 5)))
        return 0; /* the end, or the digital signature that may close the directory */
    if (a->pos + CENTRAL_SIZE > a->cd_size || !is_signature(h, 1, 2))
        return -1;
    memset(e, 0, sizeof *e);
    e->version_made_by = le16(h + 4);
    e->flags = le16(h + 8);
    e->method = le16(h + 10);
    e->dos_time = le16(h + 12);
    e->dos_date = le16(h + 14);
    e->crc = le32(h + 16);
    e->compressed_size = le32(h + 20);
    e->uncompressed_size = le32(h + 24);
    e->name_length = le16(h + 28);
    e->extra_length = le16(h + 30);
    size_t comment_length = le16(h + 32);
    e->external_attributes = le32(h + 38);
    uint64_t offset = le32(h + 42);
    uint64_t total = CENTRAL_SIZE + e->name_length + e->extra_length + comment_length;
    if (a->pos + total > a->cd_size)
        return -1;
    e->name = h + CENTRAL_SIZE;
    e->extra = e->name + e->name_length;

    /* Zip64 extended information: only the fields that are 0xFFFFFFFF, in this order. */
    size_t length = 0;
    const unsigned char *z = extra_field(e->extra, e->extra_length, 0x0001, &length);
    uint64_t *wide[3] = {&e->uncompressed_size, &e->compressed_size, &offset};
    for (int k = 0, used = 0; k < 3; k++) {
        if (*wide[k] != 0xFFFFFFFFu)
            continue;
        if (!z || (size_t)used + 8 > length)
            return -1;
        *wide[k] = le64(z + used);
        used += 8;
    }
    e->local_header_offset = offset + (uint64_t)a->shift;
    if (e->local_header_offset >= a->cd_start)
        return -1;
    a->pos += total;
    return 1;
}

/* The extended timestamp's mtime (UTC) when present, else the DOS time as local time. An
 * impossible DOS date-time is clamped to the nearest valid one. */
time_t entry_mtime(const struct entry *e)
{
    size_t length = 0;
    const unsigned char *ut = extra_field(e->extra, e->extra_length, 0x5455, &length);
    if (ut && length >= 5 && (ut[0] & 1))
        return (time_t)(int32_t)le32(ut + 1);
    static const unsigned char days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    struct tm tm = {0};
    int year = 1980 + (e->dos_date >> 9);
    int month = (e->dos_date >> 5) & 15, day = e->dos_date & 31;
    month = month < 1 ? 1 : month > 12 ? 12 : month;
    int last = days[month - 1];
    if (month == 2 && (year % 4 || (year % 100 == 0 && year % 400)))
        last = 28;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day < 1 ? 1 : day > last ? last : day;
    int hour = e->dos_time >> 11, minute = (e->dos_time >> 5) & 63, second = (e->dos_time & 31) * 2;
    tm.tm_hour = hour > 23 ? 23 : hour;
    tm.tm_min = minute > 59 ? 59 : minute;
    tm.tm_sec = second > 59 ? 59 : second;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

/* The Unix mode (type and permission bits) when "version made by" names Unix. */
int entry_unix_mode(const struct entry *e, unsigned *mode)
{
    *mode = e->external_attributes >> 16;
    return (e->version_made_by >> 8) == 3 && *mode != 0;
}
