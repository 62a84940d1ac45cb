/* A program for the process tests. It writes "<its exe>.report" (its pid,
 * argc and one argument per line, written whole through a rename), then
 * exits at once with UE_CHILD_EXIT_CODE when that is set, or sleeps until it
 * is killed, two minutes at most so that it never outlives a failed test. */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 16);
    if (n < 0) return 99;
    self[n] = '\0';
    char report[4200];
    char temp[4200];
    snprintf(report, sizeof report, "%s.report", self);
    snprintf(temp, sizeof temp, "%s.report.tmp", self);
    FILE* f = fopen(temp, "w");
    if (!f) return 98;
    fprintf(f, "%ld\n%d\n", (long)getpid(), argc);
    for (int i = 0; i < argc; ++i) fprintf(f, "%s\n", argv[i]);
    if (fclose(f) != 0 || rename(temp, report) != 0) return 97;

    const char* code = getenv("UE_CHILD_EXIT_CODE");
    if (code) return atoi(code);
    for (int i = 0; i < 120; ++i) sleep(1);
    return 0;
}
