/* A suite program for the close-before-kill tests. "closer close" answers
 * the request to close (SIGTERM) by writing "<its exe>.closed" and exiting;
 * "closer ignore" ignores it. Either writes "<its exe>.ready" once it is set
 * up, then waits, two minutes at most so that it never outlives a failed
 * test. */
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static char closed[4200];

static void OnTerm(int sig) {
    (void)sig;
    FILE* f = fopen(closed, "w");
    if (f) fclose(f);
    _exit(0);
}

int main(int argc, char** argv) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 16);
    if (n < 0 || argc != 2) return 99;
    self[n] = '\0';
    snprintf(closed, sizeof closed, "%s.closed", self);
    if (strcmp(argv[1], "ignore") == 0) signal(SIGTERM, SIG_IGN);
    else signal(SIGTERM, OnTerm);
    char ready[4200];
    snprintf(ready, sizeof ready, "%s.ready", self);
    FILE* f = fopen(ready, "w");
    if (!f || fclose(f) != 0) return 98;
    for (int i = 0; i < 120; ++i) sleep(1);
    return 0;
}
