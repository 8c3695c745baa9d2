/* measure RESULT_FILE COMMAND [ARGS...]: runs the command and writes
   "exit_status seconds peak_rss_kib" to RESULT_FILE. Forking from this small
   process keeps the launcher's own memory out of the child's peak. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  struct timespec begun, ended;
  clock_gettime(CLOCK_MONOTONIC, &begun);
  pid_t child = fork();
  if (child == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) return 1;
  clock_gettime(CLOCK_MONOTONIC, &ended);
  FILE *result = fopen(argv[1], "w");
  if (!result) return 1;
  fprintf(result, "%d %.6f %ld\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          (double)(ended.tv_sec - begun.tv_sec) + (ended.tv_nsec - begun.tv_nsec) / 1e9, usage.ru_maxrss);
  fclose(result);
  return 0;
}
