/* Preloaded into listwise-cli by cut_source_test.py: once the file named by LISTWISE_CUT_FILE has
 * been read from for the first time, it is cut to LISTWISE_CUT_TO bytes, as another program
 * truncating the list in the middle of a run would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static int cut_done;

static void cut_after_read(int fd) {
  const char* path = getenv("LISTWISE_CUT_FILE");
  const char* size = getenv("LISTWISE_CUT_TO");
  if (cut_done || path == NULL || size == NULL) return;
  char link[64], target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n < 0) return;
  target[n] = '\0';
  if (strcmp(target, path) != 0) return;
  cut_done = 1;
  if (truncate(path, strtoll(size, NULL, 10)) != 0) perror("truncate");
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
  static ssize_t (*real)(int, void*, size_t, off_t);
  if (real == NULL) real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
  const ssize_t got = real(fd, buf, count, offset);
  if (got > 0) cut_after_read(fd);
  return got;
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  return pread64(fd, buf, count, offset);
}
