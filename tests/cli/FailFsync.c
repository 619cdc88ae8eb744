/* Preloaded into a program under test: every fsync and fdatasync fails as a disk that
 * lost the data would make it fail, so that a test sees what the program does then. */
#include <errno.h>

int fsync(int fd)
{
    (void)fd;
    errno = EIO;
    return -1;
}

int fdatasync(int fd)
{
    (void)fd;
    errno = EIO;
    return -1;
}
