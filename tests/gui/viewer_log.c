/* Stands in for the desktop's viewer: every start appends one line to the file named by
   LISTWISE_VIEWER_LOG, its arguments (argv[0] included) separated by tabs, in a single write,
   so that starts that overlap still leave one whole line each and the lines can be counted. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  const char* log = getenv("LISTWISE_VIEWER_LOG");
  if (log == NULL) return 0;
  char line[8192];
  size_t length = 0;
  for (int i = 0; i < argc; ++i) {
    size_t n = strlen(argv[i]);
    if (length + n + 2 > sizeof line) return 1;
    if (i > 0) line[length++] = '\t';
    memcpy(line + length, argv[i], n);
    length += n;
  }
  line[length++] = '\n';
  int fd = open(log, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) return 1;
  ssize_t written = write(fd, line, length);
  close(fd);
  return written == (ssize_t)length ? 0 : 1;
}
