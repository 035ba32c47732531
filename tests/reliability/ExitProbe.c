/* Loaded with LD_PRELOAD into a program under test. At load it notes the
 * open descriptors, the clock and the CPU time; when the program exits
 * normally (after main returns and the program's own static destructors have
 * run) it writes one line to the file named by QOR_PROBE_OUT:
 *   fds_start=0,1,2 fds_end=0,1,2 cpu_us=N wall_us=N
 * Descriptors open at exit but not at load are the program's leaks; CPU time
 * near wall time means it spun instead of waiting. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

static char g_startFds[1024];
static long long g_startWallUs;

static long long wallUs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

/* Comma-separated numbers of the open descriptors, leaving out the one the
 * listing itself uses. */
static void listFds(char* out, size_t size) {
    out[0] = '\0';
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    int own = dirfd(dir);
    size_t used = 0;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (entry->d_name[0] == '.')
            continue;
        int fd = atoi(entry->d_name);
        if (fd == own)
            continue;
        int n = snprintf(out + used, size - used, "%s%d", used ? "," : "", fd);
        if (n < 0 || (size_t)n >= size - used)
            break;
        used += (size_t)n;
    }
    closedir(dir);
}

__attribute__((constructor)) static void probeStart(void) {
    g_startWallUs = wallUs();
    listFds(g_startFds, sizeof g_startFds);
}

__attribute__((destructor)) static void probeEnd(void) {
    const char* path = getenv("QOR_PROBE_OUT");
    if (!path || !*path)
        return;
    char endFds[1024];
    listFds(endFds, sizeof endFds);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    long long cpu = (long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
                    usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    char line[2300];
    int n = snprintf(line, sizeof line, "fds_start=%s fds_end=%s cpu_us=%lld wall_us=%lld\n",
                     g_startFds, endFds, cpu, wallUs() - g_startWallUs);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || n <= 0)
        return;
    ssize_t written = write(fd, line, (size_t)n);
    (void)written;
    close(fd);
}
