/* pellux-sfx-stub: extracts, lists or tests the ZIP archive appended to this program. */
#include "sfx.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char *program;

static void usage(FILE *f)
{
    fprintf(f,
            "Usage: %s [-d DIR] [-o] [-l | -t] [-h]\n"
            "Extracts the archive appended to this program.\n"
            "  -d DIR  extract into DIR (made with its parents when missing;\n"
            "          default: the current directory)\n"
            "  -o      overwrite existing files\n"
            "  -l      list the entries\n"
            "  -t      test every entry's data and CRC, writing nothing\n"
            "  -h      show this help\n",
            program);
}

/* mkdir -p: each missing parent is made in turn. */
static int make_dirs(char *path)
{
    for (char *p = path + 1;; p++) {
        if (*p && *p != '/')
            continue;
        char c = *p;
        *p = 0;
        int failed = mkdir(path, 0777) && errno != EEXIST;
        *p = c;
        if (failed || !c)
            return failed ? -1 : 0;
    }
}

static void list_entry(const struct entry *e, uint64_t *total)
{
    int nul;
    char *name = entry_name(e, &nul);
    time_t t = entry_mtime(e);
    struct tm *tm = localtime(&t);
    struct tm zero = {0};
    if (!tm)
        tm = &zero;
    printf("%9llu  %04d-%02d-%02d %02d:%02d   ", (unsigned long long)e->uncompressed_size, tm->tm_year + 1900,
           tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min);
    put_name(stdout, name);
    putchar('\n');
    *total += e->uncompressed_size;
    free(name);
}

static int test_entry(struct archive *a, const struct entry *e)
{
    int nul;
    char *name = entry_name(e, &nul);
    const char *why = unsupported(e);
    if (!why)
        why = read_entry(a, e, NULL, NULL);
    if (why) {
        fflush(stdout);
        fputs("error: ", stderr);
        put_name(stderr, name);
        fprintf(stderr, ": %s\n", why);
    } else {
        fputs("    testing: ", stdout);
        put_name(stdout, name);
        puts("  OK");
    }
    free(name);
    return why != NULL;
}

static void put_entry_name(struct archive *a, uint64_t pos)
{
    struct entry e;
    int nul;
    a->pos = pos;
    if (archive_next(a, &e) > 0) {
        char *name = entry_name(&e, &nul);
        put_name(stderr, name);
        free(name);
    }
    a->pos = 0;
}

int main(int argc, char **argv)
{
    const char *dir = NULL;
    int mode = 'x', c;
    struct options o = {0, -1, 0};
    program = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
    /* Past a file-size limit a write then fails with EFBIG, reported like a full disk. */
    signal(SIGXFSZ, SIG_IGN);
    while ((c = getopt(argc, argv, "d:olth")) != -1) {
        if (c == 'd')
            dir = optarg;
        else if (c == 'o')
            o.overwrite = 1;
        else if (c == 'l' || c == 't')
            mode = c;
        else if (c == 'h') {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (optind < argc) {
        fprintf(stderr, "%s: unexpected argument %s\n", program, argv[optind]);
        usage(stderr);
        return 2;
    }

    struct archive a;
    int opened = archive_open(&a, "/proc/self/exe");
    if (opened < 0) {
        fprintf(stderr,
                opened == -1       ? "%s: no archive found (missing or truncated)\n"
                    : opened == -3 ? "%s: the archive is not a regular file\n"
                                   : "%s: archive damaged: cannot read the central directory\n",
                program);
        return 1;
    }
    names_choose(&a);
    uint64_t first, second;
    if (mode != 'l' && archive_overlaps(&a, &first, &second)) {
        fprintf(stderr, "%s: overlapping entries (possible zip bomb): ", program);
        put_entry_name(&a, first);
        fputs(", ", stderr);
        put_entry_name(&a, second);
        fputc('\n', stderr);
        return 1;
    }
    if (mode == 'x') {
        o.umask = umask(0);
        umask(o.umask);
        char *copy = dir ? strdup(dir) : NULL;
        if ((copy && make_dirs(copy)) || (o.root = open(dir ? dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
            fprintf(stderr, "%s: cannot use directory %s: %s\n", program, dir ? dir : ".", strerror(errno));
            return 1;
        }
        free(copy);
    }
    if (mode == 'l')
        puts("  Length      Date    Time    Name\n"
             "---------  ---------- -----   ----");

    struct entry e;
    unsigned long files = 0, failed = 0;
    uint64_t total = 0;
    int more;
    while ((more = archive_next(&a, &e)) > 0) {
        if (mode == 'l') {
            list_entry(&e, &total);
            files++;
            continue;
        }
        int nul, is_dir;
        char *name = entry_name(&e, &nul);
        unsigned unix_mode;
        is_dir =
            (*name && is_separator(name[strlen(name) - 1])) || (entry_unix_mode(&e, &unix_mode) && S_ISDIR(unix_mode));
        free(name);
        if (mode == 't') {
            failed += test_entry(&a, &e);
            files += !is_dir;
            continue;
        }
        enum outcome r = extract_entry(&a, &e, &o);
        failed += r == FAILED || r == STOPPED;
        files += r == DONE && !is_dir;
        if (r == STOPPED)
            break;
    }
    if (more < 0) {
        fflush(stdout);
        fprintf(stderr, "%s: archive damaged: bad central directory entry\n", program);
        failed++;
    }
    if (mode == 'x')
        failed += (unsigned long)finish_directories(&o);

    if (mode == 'l')
        printf("---------                     -------\n%9llu                     %lu file%s\n",
               (unsigned long long)total, files, files == 1 ? "" : "s");
    else if (mode == 't' && !failed)
        printf("No errors detected in %lu file%s\n", files, files == 1 ? "" : "s");
    else if (mode == 't')
        printf("%lu error%s in %lu file%s\n", failed, failed == 1 ? "" : "s", files, files == 1 ? "" : "s");
    else if (!failed)
        printf("%lu file%s extracted\n", files, files == 1 ? "" : "s");
    else
        printf("%lu file%s extracted, %lu failed\n", files, files == 1 ? "" : "s", failed);
    free(a.cd);
    return failed ? 1 : 0;
}
