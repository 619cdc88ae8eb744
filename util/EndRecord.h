/* Finding an archive's central directory from its end: the one locator that the archive
 * reader, zip2exe and the C extractor stub (tools/sfxstub/) share. Plain C, header only,
 * so each includes the one copy and builds it with its own flags. */
#ifndef PELLUX_UTIL_ENDRECORD_H
#define PELLUX_UTIL_ENDRECORD_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

enum {
    PELLUX_END_SIZE = 22,     /* end of central directory record without its comment */
    PELLUX_LOCATOR_SIZE = 20, /* ZIP64 end of central directory locator */
    PELLUX_END64_SIZE = 56,   /* ZIP64 end record without its extensible data */
    PELLUX_END_SEARCH = 0xFFFF + PELLUX_END_SIZE,
};

enum {
    PELLUX_END_FOUND = 0,
    PELLUX_END_NONE = -1,         /* no end record in the file's last 64 KiB */
    PELLUX_END_OUT_OF_RANGE = -2, /* end records, none of them leading to a directory */
    PELLUX_END_READ_ERROR = -3,
};

/* Reads length bytes at offset; returns 0 when all of them were read. */
typedef int (*pellux_read_at)(void *context, uint64_t offset, void *buffer, size_t length);

struct pellux_end_record {
    uint64_t end_pos;        /* where the end record starts */
    uint16_t comment_length; /* the archive comment follows the record */
    uint16_t disk, directory_disk;
    int has_locator; /* a ZIP64 locator stands right before the end record */
    uint64_t locator_pos;
    int has_end64;            /* and the ZIP64 end record it points to was found */
    uint64_t end64_pos;       /* the ZIP64 record runs from here up to the locator */
    uint64_t entry_count;     /* total entries, as the records state it */
    uint64_t directory_start; /* where the directory really begins in the file */
    uint64_t directory_size;
    uint64_t directory_offset; /* where the records say it begins */
    int64_t shift;             /* real minus stated positions: data put in front unadjusted */
    int end64_corrupt;         /* the ZIP64 records behind the locator cannot be true */
    /* A later end record, in this one's comment, was passed over: the last record whose
     * comment ends at the end of the file and whose directory holds entries wins. */
    int passed_over;
    uint64_t passed_over_entries; /* the count that record states */
};

static inline uint16_t pellux_le16(const unsigned char *p) { return (uint16_t)(p[0] | p[1] << 8); }
static inline uint32_t pellux_le32(const unsigned char *p)
{
    return pellux_le16(p) | (uint32_t)pellux_le16(p + 2) << 16;
}
static inline uint64_t pellux_le64(const unsigned char *p)
{
    return pellux_le32(p) | (uint64_t)pellux_le32(p + 4) << 32;
}

/* "PK" followed by the two record bytes, compared byte by byte and kept out of line (no
 * constant propagation either), so that no signature stands whole as an immediate in the
 * stub's code: readers scanning from the front would take it for a local header. */
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((noipa, unused))
#else
__attribute__((noinline, unused))
#endif
static int
pellux_is_signature(const unsigned char *p, int third, int fourth)
{
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

/* The ZIP64 end record behind the locator. It normally ends right at the locator; its
 * stated position is right only when nothing was put in front of the archive. */
static inline int pellux_read_end64(pellux_read_at read, void *context, struct pellux_end_record *r)
{
    unsigned char b[PELLUX_END64_SIZE];
    uint64_t places[2];
    int i;
    if (r->locator_pos < PELLUX_END64_SIZE || read(context, r->locator_pos, b, PELLUX_LOCATOR_SIZE))
        return 0;
    places[0] = r->locator_pos - PELLUX_END64_SIZE;
    places[1] = pellux_le64(b + 8);
    for (i = 0; i < 2; i++) {
        if (places[i] > r->locator_pos - PELLUX_END64_SIZE || read(context, places[i], b, PELLUX_END64_SIZE)
            || !pellux_is_signature(b, 6, 6))
            continue;
        r->end64_pos = places[i];
        r->entry_count = pellux_le64(b + 32);
        r->directory_size = pellux_le64(b + 40);
        r->directory_offset = pellux_le64(b + 48);
        /* Values no archive of this size can hold: a directory running past the file's
         * start or past the records. (A count its bytes cannot hold leaves the directory
         * readable; the archive check names it.) */
        r->end64_corrupt = r->directory_size > r->end64_pos || r->directory_offset > r->end64_pos;
        return 1;
    }
    r->end64_corrupt = 1; /* a locator, but no ZIP64 end record where it says */
    return 0;
}

/* Whether the end record at end_pos (its 22 bytes at end) leads to a central directory. */
static inline int pellux_try_end_record(pellux_read_at read, void *context, const unsigned char *end, uint64_t end_pos,
                                        struct pellux_end_record *r)
{
    unsigned char b[4];
    uint64_t directory_end = end_pos;
    r->end_pos = end_pos;
    r->comment_length = pellux_le16(end + 20);
    /* A comment length running past the end of the file is taken as a comment cut short,
     * as other readers take it; a lookalike inside a comment rarely leads to a directory. */
    r->disk = pellux_le16(end + 4);
    r->directory_disk = pellux_le16(end + 6);
    r->entry_count = pellux_le16(end + 10);
    r->directory_size = pellux_le32(end + 12);
    r->directory_offset = pellux_le32(end + 16);
    r->has_locator = 0;
    r->has_end64 = 0;
    r->end64_corrupt = 0;
    r->passed_over = 0;
    r->passed_over_entries = 0;
    if (end_pos >= PELLUX_LOCATOR_SIZE && !read(context, end_pos - PELLUX_LOCATOR_SIZE, b, 4)
        && pellux_is_signature(b, 6, 7)) {
        r->has_locator = 1;
        r->locator_pos = end_pos - PELLUX_LOCATOR_SIZE;
        r->has_end64 = pellux_read_end64(read, context, r);
        if (r->has_end64) {
            if (r->end64_corrupt)
                return 0;
            directory_end = r->end64_pos;
        }
    }
    if (r->directory_size > directory_end)
        return 0;
    r->directory_start = directory_end - r->directory_size;
    if (r->directory_size && (read(context, r->directory_start, b, 4) || !pellux_is_signature(b, 1, 2)))
        return 0;
    /* The directory ends where the end records begin; where they say it begins tells how
     * far everything moved when data went in front without the offsets being adjusted. */
    r->shift = (int64_t)(r->directory_start - r->directory_offset);
    r->end64_corrupt = 0; /* a locator without its record: the plain record served */
    return 1;
}

/* Of the end records that lead to a central directory, the last whose comment ends
 * right at the end of the file and whose directory holds entries: a record of an empty
 * archive inside the comment is a decoy that would hide the entries. Without such a
 * record, the last that leads to a directory. When none leads to one, *r tells of the
 * last record whose ZIP64 records cannot be true, if any (end64_corrupt). */
static inline int pellux_find_end_record(pellux_read_at read, void *context, uint64_t file_size,
                                         struct pellux_end_record *r)
{
    size_t length = file_size < PELLUX_END_SEARCH ? (size_t)file_size : (size_t)PELLUX_END_SEARCH;
    uint64_t base = file_size - length;
    unsigned char *tail;
    int result = PELLUX_END_NONE, have_first = 0, have_corrupt = 0, at_end;
    struct pellux_end_record candidate, first, corrupt;
    size_t i;
    if (file_size < PELLUX_END_SIZE)
        return PELLUX_END_NONE;
    tail = (unsigned char *)malloc(length);
    if (!tail || read(context, base, tail, length)) {
        free(tail);
        return PELLUX_END_READ_ERROR;
    }
    for (i = length - PELLUX_END_SIZE + 1; i-- > 0;) {
        if (!pellux_is_signature(tail + i, 5, 6))
            continue;
        if (result == PELLUX_END_NONE)
            result = PELLUX_END_OUT_OF_RANGE;
        at_end = base + i + PELLUX_END_SIZE + pellux_le16(tail + i + 20) == file_size;
        if (have_first && !at_end)
            continue; /* once one leads to a directory, only records ending the file may win */
        if (!pellux_try_end_record(read, context, tail + i, base + i, &candidate)) {
            if (candidate.end64_corrupt && !have_corrupt && !have_first) {
                corrupt = candidate;
                have_corrupt = 1;
            }
            continue;
        }
        if (at_end && candidate.directory_size && candidate.entry_count) {
            if (have_first) {
                candidate.passed_over = 1;
                candidate.passed_over_entries = first.entry_count;
            }
            *r = candidate;
            free(tail);
            return PELLUX_END_FOUND;
        }
        if (!have_first) {
            first = candidate;
            have_first = 1;
        }
    }
    free(tail);
    if (have_first) {
        *r = first;
        return PELLUX_END_FOUND;
    }
    if (have_corrupt)
        *r = corrupt;
    return result;
}

#endif
