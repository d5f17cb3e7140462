/* peak_memory.c - runs a program and writes its peak resident memory.
 *
 *   peak_memory FILE PROGRAM [ARGUMENT...]
 *
 * Runs PROGRAM, waits for it and writes its peak resident set size in bytes
 * (getrusage's ru_maxrss) to FILE; exits with the program's status. A
 * process's peak includes what it held before it started the program, so
 * the program is started from this small process rather than from Python,
 * whose size would be counted instead.
 */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        fputs("usage: peak_memory FILE PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) return 2;
    FILE *out = fopen(argv[1], "w");
    if (out == NULL) return 2;
    fprintf(out, "%ld\n", usage.ru_maxrss * 1024L);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
