/* Reading an entry's data, and writing files, directories and links below the target
 * directory without ever following a symbolic link that is already there. */
#include "sfx.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

enum { CHUNK = 64 * 1024, LOCAL_SIZE = 30, MAX_LINK = 4096 };

static char why_text[512];

/* A reason: what went wrong and the name concerned, or else the system's error text. */
static const char *because(const char *what, const char *name)
{
    snprintf(why_text, sizeof why_text, "%s%s%s", what, name ? name : "", errno && !name ? strerror(errno) : "");
    return why_text;
}

const char *unsupported(const struct entry *e)
{
    if (e->flags & 1)
        return "encrypted";
    if (e->method != 0 && e->method != 8) {
        snprintf(why_text, sizeof why_text, "unsupported compression method %u", e->method);
        return why_text;
    }
    return NULL;
}

/* Streams the entry's data through sink (NULL only checks it) in CHUNK pieces, so entries
 * of any size pass; returns NULL when the data is whole and its CRC matches. */
const char *read_entry(struct archive *a, const struct entry *e, sink_fn sink, void *arg)
{
    static unsigned char in[CHUNK], out[CHUNK];
    unsigned char h[LOCAL_SIZE];
    uint64_t at = e->local_header_offset;
    if (pread(a->fd, h, LOCAL_SIZE, (off_t)at) != LOCAL_SIZE || !pellux_is_signature(h, 3, 4))
        return "local header damaged";
    at += LOCAL_SIZE + pellux_le16(h + 26) + (uint64_t)pellux_le16(h + 28);
    if (at > a->cd_start || e->compressed_size > a->cd_start - at)
        return "data truncated";
    if (e->method == 0 && e->compressed_size != e->uncompressed_size)
        return "wrong size";

    z_stream z;
    memset(&z, 0, sizeof z);
    if (e->method == 8 && inflateInit2(&z, -15) != Z_OK)
        return "out of memory";
    const char *why = NULL;
    uint64_t left = e->compressed_size, written = 0;
    uLong crc = crc32(0, NULL, 0);
    int status = Z_OK;
    while (!why && status != Z_STREAM_END) {
        size_t n = left < CHUNK ? (size_t)left : CHUNK;
        if (n == 0 && e->method == 0)
            break;
        if (n == 0) {
            why = "compressed data truncated";
            break;
        }
        if (pread(a->fd, in, n, (off_t)at) != (ssize_t)n) {
            why = "data truncated";
            break;
        }
        at += n;
        left -= n;
        z.next_in = in;
        z.avail_in = (uInt)n;
        do {
            size_t produced = n;
            const unsigned char *data = in;
            if (e->method == 8) {
                z.next_out = out;
                z.avail_out = CHUNK;
                status = inflate(&z, Z_NO_FLUSH);
                if (status == Z_DATA_ERROR || status == Z_NEED_DICT || status == Z_MEM_ERROR) {
                    why = "corrupt compressed data";
                    break;
                }
                produced = CHUNK - z.avail_out;
                data = out;
            } else {
                z.avail_in = 0;
            }
            /* More than the stated size is refused before it reaches the disk. */
            if (produced > e->uncompressed_size - written) {
                why = "wrong size";
                break;
            }
            written += produced;
            crc = crc32(crc, data, (uInt)produced);
            errno = 0;
            if (sink && produced && sink(arg, data, produced)) {
                why = because("write error: ", NULL);
                break;
            }
        } while (e->method == 8 && status != Z_STREAM_END && (z.avail_in > 0 || z.avail_out == 0));
    }
    if (e->method == 8)
        inflateEnd(&z);
    if (!why && written != e->uncompressed_size)
        why = "wrong size";
    if (!why && crc != e->crc)
        why = "CRC error";
    return why;
}

static int to_file(void *arg, const unsigned char *data, size_t length)
{
    while (length) {
        ssize_t n = write(*(int *)arg, data, length);
        if (n <= 0)
            return -1;
        data += n;
        length -= (size_t)n;
    }
    return 0;
}

struct text {
    char bytes[MAX_LINK + 1];
    size_t length;
};

static int to_text(void *arg, const unsigned char *data, size_t length)
{
    struct text *t = arg;
    if (length > MAX_LINK - t->length) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(t->bytes + t->length, data, length);
    t->length += length;
    return 0;
}

/* Opens (and with create makes) one directory below parent, refusing a symbolic link. */
static int open_step(int parent, const char *part, int create, const char **why)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent, part, flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (mkdirat(parent, part, 0777) && errno != EEXIST) {
            *why = because("cannot create directory ", part);
            return -1;
        }
        fd = openat(parent, part, flags);
    }
    if (fd >= 0)
        return fd;
    int error = errno;
    struct stat st;
    if (fstatat(parent, part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        *why = because("path goes through the symbolic link ", part);
    else if (error == ENOTDIR || error == EEXIST)
        *why = because("path goes through the file ", part);
    else
        *why = because("cannot open directory ", part);
    return -1;
}

/* Walks the directories one component at a time from the target directory down. */
static int open_dirs(int root, char **parts, size_t count, int create, const char **why)
{
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (size_t i = 0; fd >= 0 && i < count; i++) {
        int next = open_step(fd, parts[i], create, why);
        close(fd);
        fd = next;
    }
    return fd;
}

/* Directory times and modes are set once everything inside them is written. */
struct dir_record {
    char *path;
    unsigned mode;
    int has_mode;
    time_t mtime;
};
static struct dir_record *dirs;
static size_t dir_count, dir_capacity;

static void remember_dir(char **parts, size_t count, unsigned mode, int has_mode, time_t mtime)
{
    size_t length = 1;
    for (size_t i = 0; i < count; i++)
        length += strlen(parts[i]) + 1;
    char *path = calloc(1, length);
    if (dir_count == dir_capacity)
        dirs = realloc(dirs, (dir_capacity = dir_capacity * 2 + 16) * sizeof *dirs);
    if (!path || !dirs)
        abort();
    for (size_t i = 0; i < count; i++)
        strcat(strcat(path, i ? "/" : ""), parts[i]);
    dirs[dir_count++] = (struct dir_record){path, mode, has_mode, mtime};
}

int finish_directories(const struct options *o)
{
    int failures = 0;
    while (dir_count--) {
        struct dir_record *d = &dirs[dir_count];
        char **parts;
        int is_dir;
        const char *why = "cannot open directory";
        size_t count = safe_split(d->path, &parts, &is_dir, &why);
        int fd = count ? open_dirs(o->root, parts, count, 0, &why) : -1;
        struct timespec times[2] = {{d->mtime, 0}, {d->mtime, 0}};
        if (fd < 0 || futimens(fd, times) || (d->has_mode && fchmod(fd, d->mode))) {
            fprintf(stderr, "error: %s: cannot set its time or mode\n", d->path);
            failures++;
        }
        if (fd >= 0)
            close(fd);
        free(parts);
        free(d->path);
    }
    free(dirs);
    return failures;
}

static void report(const char *prefix, const char *name, const char *why, const char *suffix)
{
    fflush(stdout);
    fputs(prefix, stderr);
    put_name(stderr, name);
    fprintf(stderr, ": %s%s\n", why, suffix);
}

static void progress(const char *action, const char *name)
{
    fputs(action, stdout);
    put_name(stdout, name);
    fputc('\n', stdout);
}

/* A name no entry can take in that directory: the data lands here and is renamed into place
 * only when it is whole, so a symlink at the final name is replaced, never written through. */
static char *temp_name(void)
{
    static char name[48];
    static unsigned counter;
    snprintf(name, sizeof name, ".pxsfx-%ld-%u.tmp", (long)getpid(), counter++);
    return name;
}

static enum outcome write_leaf(struct archive *a, const struct entry *e, const char *name, int dirfd, const char *leaf,
                               size_t depth, unsigned mode, int is_link)
{
    struct text target = {{0}, 0};
    const char *why = NULL, *tmp;
    int fd = -1;
    if (is_link) {
        /* The target is read and checked before anything appears on disk. */
        if ((why = read_entry(a, e, to_text, &target))) {
            report("error: ", name, why, "");
            return FAILED;
        }
        if (!link_stays_inside(depth, target.bytes, target.length)) {
            report("skipped ", name, "link leads outside the target directory", "");
            return FAILED;
        }
        int failed;
        do
            failed = symlinkat(target.bytes, dirfd, tmp = temp_name());
        while (failed && errno == EEXIST);
        if (failed) {
            report("error: ", name, because("cannot create link: ", NULL), "");
            return FAILED;
        }
        progress("    linking: ", name);
    } else {
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        do
            fd = openat(dirfd, tmp = temp_name(), flags, 0600);
        while (fd < 0 && errno == EEXIST);
        if (fd < 0) {
            report("error: ", name, because("cannot create file: ", NULL), "");
            return FAILED;
        }
        progress(e->method == 8 ? "  inflating: " : " extracting: ", name);
        why = read_entry(a, e, to_file, &fd);
    }
    time_t mtime = entry_mtime(e);
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    errno = 0;
    if (!why && !is_link && (fchmod(fd, mode) || futimens(fd, times)))
        why = because("cannot set its mode or time: ", NULL);
    if (fd >= 0 && close(fd) && !why)
        why = because("write error: ", NULL);
    if (!why && is_link)
        utimensat(dirfd, tmp, times, AT_SYMLINK_NOFOLLOW); /* not every file system keeps it */
    if (!why && renameat(dirfd, tmp, dirfd, leaf))
        why = because("cannot rename into place: ", NULL);
    if (why) {
        unlinkat(dirfd, tmp, 0);
        report("error: ", name, why, is_link ? "" : ", file removed");
        return FAILED;
    }
    return DONE;
}

enum outcome extract_entry(struct archive *a, const struct entry *e, const struct options *o)
{
    const char *why;
    char **parts = NULL;
    int is_dir = 0, nul = 0;
    unsigned mode;
    char *name = entry_name(e, &nul);
    enum outcome result = FAILED;
    if (nul) {
        report("skipped ", name, "name holds a NUL byte", "");
        goto done;
    }
    if ((why = unsupported(e))) {
        report("skipped ", name, why, "");
        goto done;
    }
    int is_unix = entry_unix_mode(e, &mode);
    char *copy = strdup(name);
    size_t count = copy ? safe_split(copy, &parts, &is_dir, &why) : 0;
    if (count == 0) {
        report("skipped ", name, why, "");
        free(copy);
        goto done;
    }
    is_dir |= is_unix && S_ISDIR(mode);
    int is_link = !is_dir && is_unix && S_ISLNK(mode);
    int dirfd = open_dirs(o->root, parts, is_dir ? count : count - 1, 1, &why);
    struct stat st;
    if (dirfd < 0) {
        report("skipped ", name, why, "");
    } else if (is_dir) {
        progress("   creating: ", name);
        remember_dir(parts, count, mode & 0777, is_unix, entry_mtime(e));
        result = DONE;
    } else if (!o->overwrite && fstatat(dirfd, parts[count - 1], &st, AT_SYMLINK_NOFOLLOW) == 0) {
        report("skipped ", name, "already exists (-o overwrites)", "");
        result = KEPT;
    } else {
        mode = is_unix ? mode & 0777 : 0666 & ~o->umask;
        result = write_leaf(a, e, name, dirfd, parts[count - 1], count - 1, mode, is_link);
    }
    if (dirfd >= 0)
        close(dirfd);
    free(parts);
    free(copy);
done:
    free(name);
    return result;
}
