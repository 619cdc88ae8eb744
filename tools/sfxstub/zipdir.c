/* Finding the appended archive and reading its central directory. */
#include "sfx.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { CENTRAL_SIZE = 46 }; /* central directory file header without name, extra, comment */

static int read_at(void *context, uint64_t offset, void *buffer, size_t length)
{
    const int fd = *(const int *)context;
    size_t done = 0;
    while (done < length) {
        ssize_t n = pread(fd, (char *)buffer + done, length - done, (off_t)(offset + done));
        if (n <= 0)
            return -1;
        done += (size_t)n;
    }
    return 0;
}

int archive_open(struct archive *a, const char *path)
{
    struct stat st;
    struct pellux_end_record end = {0};
    memset(a, 0, sizeof *a);
    /* Not blocking on a FIFO, and read only when it is a file. */
    a->fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (a->fd < 0 || fstat(a->fd, &st))
        return -1;
    if (!S_ISREG(st.st_mode))
        return -3;
    a->file_size = (uint64_t)st.st_size;
    if (pellux_find_end_record(read_at, &a->fd, a->file_size, &end) != PELLUX_END_FOUND)
        return -1;
    if (end.disk || end.directory_disk || end.directory_size > SIZE_MAX)
        return -1; /* a part of a split archive */
    a->cd_start = end.directory_start;
    a->cd_size = end.directory_size;
    a->shift = end.shift;
    a->cd = malloc(a->cd_size ? (size_t)a->cd_size : 1);
    if (!a->cd || read_at(&a->fd, a->cd_start, a->cd, (size_t)a->cd_size))
        return -2;
    return 0;
}

const unsigned char *extra_field(const unsigned char *extra, size_t length, uint16_t id, size_t *field_length)
{
    size_t i = 0;
    while (i + 4 <= length) {
        size_t size = pellux_le16(extra + i + 2);
        if (i + 4 + size > length)
            break;
        if (pellux_le16(extra + i) == id) {
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
    if (a->pos == a->cd_size || (a->pos + 4 <= a->cd_size && pellux_is_signature(h, 5, 5)))
        return 0; /* the end, or the digital signature that may close the directory */
    if (a->pos + CENTRAL_SIZE > a->cd_size || !pellux_is_signature(h, 1, 2))
        return -1;
    memset(e, 0, sizeof *e);
    e->version_made_by = pellux_le16(h + 4);
    e->flags = pellux_le16(h + 8);
    e->method = pellux_le16(h + 10);
    e->dos_time = pellux_le16(h + 12);
    e->dos_date = pellux_le16(h + 14);
    e->crc = pellux_le32(h + 16);
    e->compressed_size = pellux_le32(h + 20);
    e->uncompressed_size = pellux_le32(h + 24);
    e->name_length = pellux_le16(h + 28);
    e->extra_length = pellux_le16(h + 30);
    size_t comment_length = pellux_le16(h + 32);
    e->external_attributes = pellux_le32(h + 38);
    uint64_t offset = pellux_le32(h + 42);
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
        *wide[k] = pellux_le64(z + used);
        used += 8;
    }
    e->local_header_offset = offset + (uint64_t)a->shift;
    if (e->local_header_offset >= a->cd_start)
        return -1;
    a->pos += total;
    return 1;
}

/* One entry's bytes in the file: local header to the end of its data. */
struct span {
    uint64_t start, end, pos;
};

static int by_start(const void *x, const void *y)
{
    const struct span *a = x, *b = y;
    return a->start != b->start ? (a->start < b->start ? -1 : 1) : (a->pos > b->pos) - (a->pos < b->pos);
}

/* Entries whose bytes overlap or share a local header quote one entry's data in many (a zip
 * bomb): sorted by start, an entry beginning before the furthest end seen so far overlaps.
 * Returns 1 with the directory positions of the first two such entries. Entries whose local
 * header cannot be read or whose data runs past the directory fail on their own later. */
int archive_overlaps(struct archive *a, uint64_t *first, uint64_t *second)
{
    struct span *spans = NULL;
    size_t count = 0, capacity = 0;
    struct entry e;
    unsigned char h[30];
    for (uint64_t pos = a->pos = 0; archive_next(a, &e) > 0; pos = a->pos) {
        uint64_t at = e.local_header_offset;
        if (read_at(&a->fd, at, h, sizeof h) || !pellux_is_signature(h, 3, 4))
            continue;
        at += sizeof h + pellux_le16(h + 26) + (uint64_t)pellux_le16(h + 28);
        if (at > a->cd_start || e.compressed_size > a->cd_start - at)
            continue;
        if (count == capacity && !(spans = realloc(spans, (capacity = capacity * 2 + 64) * sizeof *spans)))
            abort();
        spans[count++] = (struct span){e.local_header_offset, at + e.compressed_size, pos};
    }
    a->pos = 0;
    if (count)
        qsort(spans, count, sizeof *spans, by_start);
    int found = 0;
    for (size_t i = 1, furthest = 0; i < count && !found; i++) {
        if (spans[i].start < spans[furthest].end) {
            *first = spans[furthest].pos, *second = spans[i].pos;
            found = 1;
        }
        if (spans[i].end > spans[furthest].end)
            furthest = i;
    }
    free(spans);
    return found;
}

/* The extended timestamp's mtime (UTC) when present, else the DOS time as local time. An
 * impossible DOS date-time is clamped to the nearest valid one. */
time_t entry_mtime(const struct entry *e)
{
    size_t length = 0;
    const unsigned char *ut = extra_field(e->extra, e->extra_length, 0x5455, &length);
    if (ut && length >= 5 && (ut[0] & 1))
        return (time_t)pellux_le32(ut + 1); /* unsigned: dates after 2038 */
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
