// Preloaded into the desktop program by bench/versus_udiskie.sh: each call the program makes to
// QSystemTrayIcon::setToolTip is written down (CLOCK_MONOTONIC nanoseconds, one line) to the
// file named by VARNELO_BENCH_PROBE before Qt's own function runs. The program itself is not
// changed; this file is built by the script.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

typedef void (*set_tool_tip)(void* self, const void* text);

void probed_set_tool_tip(void* self,
                         const void* text) __asm__("_ZN15QSystemTrayIcon10setToolTipERK7QString");

void probed_set_tool_tip(void* self, const void* text) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  static int log = -2;
  if (log == -2) {
    const char* path = getenv("VARNELO_BENCH_PROBE");
    log = path != NULL ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
  }
  if (log >= 0) {
    char line[32];
    const int length =
        snprintf(line, sizeof line, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    if (write(log, line, (size_t)length) < 0) {
      log = -1;
    }
  }
  static set_tool_tip original;
  if (original == NULL) {
    original = (set_tool_tip)dlsym(RTLD_NEXT, "_ZN15QSystemTrayIcon10setToolTipERK7QString");
  }
  original(self, text);
}
