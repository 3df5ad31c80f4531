/* Preloaded into a program under test to hold a run in the phase a test wants to act in, on any
 * machine: reads and writes of the files whose path begins with LISTWISE_HOLD_PATH move at most
 * LISTWISE_HOLD_BYTES (65536) bytes a call, each after a pause of LISTWISE_HOLD_MS (20) ms.
 * A run that must move N bytes through them thus lasts at least N / bytes * ms, however fast
 * the machine, and it still reports its progress between its steps.
 *
 * LISTWISE_HOLD_WHAT says which: "reads", "writes" or, when unset, both.
 *
 * The hold ends for good once the file LISTWISE_HOLD_GATE exists (the test creates it when it is
 * done acting), and it never starts while LISTWISE_HOLD_GATE names an existing file.
 *
 * Reads and writes through descriptors (read, pread, write, pwrite) are cut short, as a slow
 * file may be; stdio's (fread, fwrite) move their whole count, a piece at a time, since stdio's
 * callers take a short count for the end of the file or an error. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

enum { kRead = 1, kWrite = 2 };

static int held_file(int fd, int kind) {
  const char* prefix = getenv("LISTWISE_HOLD_PATH");
  if (prefix == NULL || *prefix == '\0' || fd < 0) return 0;
  const char* what = getenv("LISTWISE_HOLD_WHAT");
  if (what != NULL && strcmp(what, kind == kRead ? "reads" : "writes") != 0 &&
      strcmp(what, "both") != 0)
    return 0;
  const char* gate = getenv("LISTWISE_HOLD_GATE");
  struct stat st;
  if (gate != NULL && *gate != '\0' && stat(gate, &st) == 0) return 0;
  char link[64], target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n < 0) return 0;
  target[n] = '\0';
  return strncmp(target, prefix, strlen(prefix)) == 0;
}

static size_t hold_bytes(void) {
  const char* bytes = getenv("LISTWISE_HOLD_BYTES");
  const long n = bytes != NULL ? atol(bytes) : 0;
  return n > 0 ? (size_t)n : 65536;
}

static void pause_a_step(void) {
  const char* ms = getenv("LISTWISE_HOLD_MS");
  const long n = ms != NULL ? atol(ms) : 20;
  struct timespec step = {n / 1000, (n % 1000) * 1000000L};
  while (nanosleep(&step, &step) != 0) {
  }
}

/* The count a held call may move: it pauses first. */
static size_t held_count(int fd, int kind, size_t count) {
  if (!held_file(fd, kind)) return count;
  pause_a_step();
  const size_t most = hold_bytes();
  return count < most ? count : most;
}

#define REAL(name)                      \
  static __typeof__(name)* real_##name; \
  if (real_##name == NULL) real_##name = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

ssize_t read(int fd, void* buf, size_t count) {
  REAL(read);
  return real_read(fd, buf, held_count(fd, kRead, count));
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
  REAL(pread64);
  return real_pread64(fd, buf, held_count(fd, kRead, count), offset);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  return pread64(fd, buf, count, offset);
}

ssize_t write(int fd, const void* buf, size_t count) {
  REAL(write);
  return real_write(fd, buf, held_count(fd, kWrite, count));
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  REAL(pwrite64);
  return real_pwrite64(fd, buf, held_count(fd, kWrite, count), offset);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  return pwrite64(fd, buf, count, offset);
}

size_t fwrite(const void* ptr, size_t size, size_t n, FILE* stream) {
  REAL(fwrite);
  const size_t total = size * n;
  if (size == 0 || !held_file(fileno(stream), kWrite)) return real_fwrite(ptr, size, n, stream);
  size_t done = 0;
  while (done < total) {
    const size_t piece = held_count(fileno(stream), kWrite, total - done);
    const size_t put = real_fwrite((const char*)ptr + done, 1, piece, stream);
    done += put;
    if (put < piece) break;
  }
  return done / size;
}

size_t fread(void* ptr, size_t size, size_t n, FILE* stream) {
  REAL(fread);
  const size_t total = size * n;
  if (size == 0 || !held_file(fileno(stream), kRead)) return real_fread(ptr, size, n, stream);
  size_t done = 0;
  while (done < total) {
    const size_t piece = held_count(fileno(stream), kRead, total - done);
    const size_t got = real_fread((char*)ptr + done, 1, piece, stream);
    done += got;
    if (got < piece) break;
  }
  return done / size;
}
