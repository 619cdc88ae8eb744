/* Reading an entry's data, and writing files, directories and links below the target
 * directory without ever following a symbolic link that is already there. */
#define _GNU_SOURCE /* O_TMPFILE */
#include "sfx.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

enum { CHUNK = 64 * 1024, LOCAL_SIZE = 30, MAX_LINK = 4096, HELD = 64 };

static char why_text[1536];

/* A reason: what went wrong, the name concerned (escaped) and the system's error text. */
static const char *because(const char *what, const char *name, int error)
{
    char *shown = visible(name ? name : "");
    snprintf(why_text, sizeof why_text, "%s%s%s%s", what, shown, error ? ": " : "", error ? strerror(error) : "");
    free(shown);
    return why_text;
}

/* The first failure for want of space stops the extraction: every later entry would fail
 * the same way, each leaving a message and perhaps a partial file. */
static int out_of_space;

static int note(int error)
{
    if (error == ENOSPC || error == EFBIG || error == EDQUOT)
        out_of_space = 1;
    return error;
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
                why = because("write error", NULL, errno);
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
            return note(n ? errno : (errno = ENOSPC)), -1;
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

/* The directories this run made, by device and inode, in an open-addressed table: only
 * those take the archive's mode and time unasked, since one that was there is the user's. */
struct dir_id {
    dev_t dev;
    ino_t ino; /* 0: a free slot */
};
static struct dir_id *made;
static size_t made_count, made_slots;

static int made_here(dev_t dev, ino_t ino, int add)
{
    if (add && 2 * (made_count + 1) > made_slots) {
        struct dir_id *old = made;
        size_t old_slots = made_slots;
        made_slots = made_slots ? made_slots * 2 : 256;
        if (!(made = calloc(made_slots, sizeof *made)))
            abort();
        made_count = 0;
        for (size_t i = 0; i < old_slots; i++)
            if (old[i].ino)
                made_here(old[i].dev, old[i].ino, 1);
        free(old);
    }
    if (!made_slots)
        return 0;
    uint64_t hash = ((uint64_t)ino ^ (uint64_t)dev << 32) * 0x9E3779B97F4A7C15u;
    for (size_t i = (size_t)(hash >> 32) & (made_slots - 1);; i = (i + 1) & (made_slots - 1)) {
        if (!made[i].ino) {
            if (add)
                made[i] = (struct dir_id){dev, ino}, made_count++;
            return 0;
        }
        if (made[i].ino == ino && made[i].dev == dev)
            return 1;
    }
}

/* Opens (and with create makes) one directory below parent, refusing a symbolic link. */
static int open_step(int parent, const char *part, int create, const char **why)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent, part, flags), created = 0;
    if (fd < 0 && errno == ENOENT && create) {
        created = mkdirat(parent, part, 0777) == 0;
        if (!created && errno != EEXIST) {
            *why = because("cannot create directory ", part, note(errno));
            return -1;
        }
        fd = openat(parent, part, flags);
    }
    struct stat st;
    if (fd >= 0 && created && fstat(fd, &st) == 0)
        made_here(st.st_dev, st.st_ino, 1);
    if (fd >= 0)
        return fd;
    int error = errno;
    if (fstatat(parent, part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        *why = because("path goes through the symbolic link ", part, 0);
    else if (error == ENOTDIR || error == EEXIST)
        *why = because("path goes through the file ", part, 0);
    else
        *why = because("cannot open directory ", part, error);
    return -1;
}

/* The last path walked, so that the next entry (mostly a neighbour or a child) starts
 * from the longest common prefix. Only the deepest HELD of its directories stay open, so
 * no depth exhausts the descriptors; a walk that needs one dropped starts from the top. */
static struct {
    char **name;
    int *fd; /* -1 where dropped */
    size_t count, capacity;
} chain;

static void chain_cut(size_t count)
{
    while (chain.count > count) {
        chain.count--;
        if (chain.fd[chain.count] >= 0)
            close(chain.fd[chain.count]);
        free(chain.name[chain.count]);
    }
}

/* Walks the directories one component at a time from the target directory down; the
 * caller closes the descriptor returned. */
static int open_dirs(int root, char **parts, size_t count, int create, const char **why)
{
    size_t i = 0;
    while (i < chain.count && i < count && strcmp(chain.name[i], parts[i]) == 0)
        i++;
    chain_cut(i);
    if (i && chain.fd[i - 1] < 0)
        chain_cut(i = 0);
    if (count > chain.capacity) {
        chain.capacity = count + 16;
        if (!(chain.name = realloc(chain.name, chain.capacity * sizeof *chain.name))
            || !(chain.fd = realloc(chain.fd, chain.capacity * sizeof *chain.fd)))
            abort();
    }
    for (; i < count; i++) {
        int next = open_step(i ? chain.fd[i - 1] : root, parts[i], create, why);
        if (next < 0)
            return -1;
        if (!(chain.name[i] = strdup(parts[i])))
            abort();
        chain.fd[i] = next;
        chain.count = i + 1;
        if (i >= HELD && chain.fd[i - HELD] >= 0) {
            close(chain.fd[i - HELD]);
            chain.fd[i - HELD] = -1;
        }
    }
    return fcntl(count ? chain.fd[count - 1] : root, F_DUPFD_CLOEXEC, 0);
}

/* Directory times and modes are set once everything inside them is written. */
struct dir_record {
    char *path;
    size_t depth, order;
    unsigned mode, old_mode; /* old_mode: what a directory that was there had */
    int has_mode, existed;
    time_t mtime;
};
static struct dir_record *dirs;
static size_t dir_count, dir_capacity;

static void remember_dir(char **parts, size_t count, int fd, unsigned mode, int has_mode, time_t mtime)
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
    struct stat st;
    int existed = fstat(fd, &st) == 0 && !made_here(st.st_dev, st.st_ino, 0);
    dirs[dir_count] = (struct dir_record){path, count, dir_count, mode, st.st_mode & 07777, has_mode, existed, mtime};
    dir_count++;
}

/* Deepest first, archive order among equals: a parent made read-only before its children
 * would stop their change. */
static int deepest_first(const void *x, const void *y)
{
    const struct dir_record *a = x, *b = y;
    if (a->depth != b->depth)
        return a->depth > b->depth ? -1 : 1;
    return (a->order > b->order) - (a->order < b->order);
}

int finish_directories(const struct options *o)
{
    int failures = 0;
    if (dir_count)
        qsort(dirs, dir_count, sizeof *dirs, deepest_first);
    for (size_t k = 0; k < dir_count; k++) {
        struct dir_record *d = &dirs[k];
        char *path = strdup(d->path), **parts = NULL;
        int is_dir;
        const char *why = "cannot open directory";
        /* One that was there keeps its mode and time unless -o; even then it gains no group
         * or world write and keeps its owner's rights. */
        unsigned mode = d->mode;
        if (d->existed)
            mode = (mode & ~(0022 & ~d->old_mode)) | (d->old_mode & 0700);
        if (!path)
            abort();
        if (!d->existed || o->overwrite) {
            size_t count = safe_split(path, &parts, &is_dir, &why);
            int fd = count ? open_dirs(o->root, parts, count, 0, &why) : -1;
            struct timespec times[2] = {{d->mtime, 0}, {d->mtime, 0}};
            errno = 0;
            if (fd < 0 || futimens(fd, times) || (d->has_mode && fchmod(fd, mode))) {
                fflush(stdout);
                fputs("error: ", stderr);
                put_name(stderr, d->path);
                fprintf(stderr, ": cannot set its time or mode%s%s\n", fd >= 0 ? ": " : "",
                        fd >= 0 ? strerror(errno) : "");
                failures++;
            }
            if (fd >= 0)
                close(fd);
        }
        free(parts);
        free(path);
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
    fprintf(stderr, ": %s%s%s\n", why, suffix, out_of_space ? "; extraction stopped" : "");
}

static void progress(const char *action, const char *name)
{
    fputs(action, stdout);
    put_name(stdout, name);
    fputc('\n', stdout);
}

/* A name nobody can guess, for the moment before a file or link is renamed into place:
 * the data lands there only when whole, and a symlink at the final name is replaced,
 * never written through. */
static char *temp_name(void)
{
    static char name[32];
    static unsigned counter;
    unsigned char r[8];
    if (getrandom(r, sizeof r, GRND_NONBLOCK) != (ssize_t)sizeof r) {
        int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd < 0 || read(fd, r, sizeof r) != (ssize_t)sizeof r) {
            uint64_t v = ((uint64_t)time(NULL) << 32) ^ (uint64_t)getpid() << 16 ^ ++counter;
            memcpy(r, &v, sizeof r);
        }
        if (fd >= 0)
            close(fd);
    }
    char *o = name + sprintf(name, ".pxsfx-");
    for (size_t i = 0; i < sizeof r; i++)
        o += sprintf(o, "%02x", r[i]);
    strcpy(o, ".tmp");
    return name;
}

/* A file opened with O_TMPFILE gets its name only when whole: linked to the final name
 * when that is free, else under a temporary name renamed over it. */
static int publish(int fd, int dirfd, const char *leaf)
{
    char proc[32];
    const char *tmp;
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, proc, dirfd, leaf, AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != EEXIST)
        return note(errno), -1;
    int failed;
    do
        failed = linkat(AT_FDCWD, proc, dirfd, tmp = temp_name(), AT_SYMLINK_FOLLOW);
    while (failed && errno == EEXIST);
    if (failed || renameat(dirfd, tmp, dirfd, leaf)) {
        int error = note(errno);
        if (!failed)
            unlinkat(dirfd, tmp, 0);
        errno = error;
        return -1;
    }
    return 0;
}

static enum outcome write_leaf(struct archive *a, const struct entry *e, const char *name, int dirfd, const char *leaf,
                               size_t depth, unsigned mode, int is_link)
{
    struct text target = {{0}, 0};
    const char *why = NULL, *tmp = NULL;
    int fd = -1, failed;
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
        do
            failed = symlinkat(target.bytes, dirfd, tmp = temp_name());
        while (failed && errno == EEXIST);
        if (failed) {
            report("error: ", name, because("cannot create link", NULL, note(errno)), "");
            return out_of_space ? STOPPED : FAILED;
        }
        progress("    linking: ", name);
    } else {
        fd = openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
            const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
            do
                fd = openat(dirfd, tmp = temp_name(), flags, 0600);
            while (fd < 0 && errno == EEXIST);
        }
        if (fd < 0) {
            report("error: ", name, because("cannot create file", NULL, note(errno)), "");
            return out_of_space ? STOPPED : FAILED;
        }
        progress(e->method == 8 ? "  inflating: " : " extracting: ", name);
        why = read_entry(a, e, to_file, &fd);
    }
    time_t mtime = entry_mtime(e);
    struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    errno = 0;
    if (!why && !is_link && (fchmod(fd, mode) || futimens(fd, times)))
        why = because("cannot set its mode or time", NULL, errno);
    /* A named file is closed before its rename, an anonymous one after its link. */
    int linked = 0;
    if (!why && fd >= 0 && !tmp && !(linked = publish(fd, dirfd, leaf) == 0))
        why = because("cannot put it in place", NULL, errno);
    if (fd >= 0 && close(fd) && !why)
        why = because("write error", NULL, note(errno));
    if (!why && is_link)
        utimensat(dirfd, tmp, times, AT_SYMLINK_NOFOLLOW); /* not every file system keeps it */
    if (!why && tmp && renameat(dirfd, tmp, dirfd, leaf))
        why = because("cannot rename into place", NULL, note(errno));
    if (why) {
        if (tmp)
            unlinkat(dirfd, tmp, 0);
        else if (linked)
            unlinkat(dirfd, leaf, 0);
        report("error: ", name, why, is_link ? "" : ", file removed");
        return out_of_space ? STOPPED : FAILED;
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
        report(out_of_space ? "error: " : "skipped ", name, why, "");
        result = out_of_space ? STOPPED : FAILED;
    } else if (is_dir) {
        progress("   creating: ", name);
        remember_dir(parts, count, dirfd, mode & 0777, is_unix, entry_mtime(e));
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
