/* A slow disk for the gateway benchmarks, by LD_PRELOAD: every fdatasync and fsync of the process
 * first sleeps SLOW_SYNC_MS milliseconds (default 300), as a busy or worn flash disk can. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <time.h>

typedef int (*sync_fn)(int);

static void stall(void) {
    const char *text = getenv("SLOW_SYNC_MS");
    const long ms = text ? atol(text) : 300;
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

static int call(const char *name, int fd) {
    sync_fn real = (sync_fn)dlsym(RTLD_NEXT, name);
    stall();
    return real ? real(fd) : 0;
}

int fdatasync(int fd) { return call("fdatasync", fd); }
int fsync(int fd) { return call("fsync", fd); }
