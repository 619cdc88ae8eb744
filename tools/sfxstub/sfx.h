/* The self-extracting stub: a ZIP archive appended to this executable is read from
 * /proc/self/exe and extracted. Shared declarations of its few parts. */
#ifndef PELLUX_SFX_H
#define PELLUX_SFX_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "util/EndRecord.h"

/* One central directory file header, sizes and offsets already widened by ZIP64. */
struct entry {
    uint16_t version_made_by;
    uint16_t flags;              /* general purpose bit flag */
    uint16_t method;             /* compression method */
    uint16_t dos_time, dos_date; /* last mod file time / date */
    uint32_t crc;                /* crc-32 */
    uint32_t external_attributes;
    uint64_t compressed_size, uncompressed_size;
    uint64_t local_header_offset; /* where the local header really is in the file */
    const unsigned char *name, *extra;
    size_t name_length, extra_length;
};

struct archive {
    int fd;
    uint64_t file_size;
    uint64_t cd_start; /* actual position of the central directory */
    int64_t shift;     /* actual minus stated offsets (a stub put in front unadjusted) */
    unsigned char *cd; /* the whole central directory */
    uint64_t cd_size, pos;
};

/* zipdir.c */
int archive_open(struct archive *a, const char *path); /* 0; -1 none found; -2 damaged; -3 no file */
int archive_next(struct archive *a, struct entry *e);  /* 1 entry, 0 end, -1 damaged */
int archive_overlaps(struct archive *a, uint64_t *first, uint64_t *second);
const unsigned char *extra_field(const unsigned char *extra, size_t length, uint16_t id, size_t *field_length);
time_t entry_mtime(const struct entry *e);
int entry_unix_mode(const struct entry *e, unsigned *mode);

/* names.c */
void names_choose(struct archive *a);              /* once, before the first entry_name */
char *entry_name(const struct entry *e, int *nul); /* malloc'd UTF-8 name */
int is_separator(char c);
size_t safe_split(char *name, char ***parts, int *is_dir, const char **why);
int link_stays_inside(size_t link_depth, const char *target, size_t length);
char *visible(const char *text); /* malloc'd, escaped for a terminal */
void put_name(FILE *f, const char *name);

/* extract.c */
const char *unsupported(const struct entry *e);
typedef int (*sink_fn)(void *arg, const unsigned char *data, size_t length);
const char *read_entry(struct archive *a, const struct entry *e, sink_fn sink, void *arg);
struct options {
    int overwrite;
    int root; /* directory fd that everything lands below */
    unsigned umask;
};
enum outcome { DONE, KEPT, FAILED, STOPPED /* out of space: no further entry is tried */ };
enum outcome extract_entry(struct archive *a, const struct entry *e, const struct options *o);
int finish_directories(const struct options *o);

#endif
