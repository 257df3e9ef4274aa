/* silence THRESHOLD RUN_FRAMES: read interleaved stereo s16le PCM from stdin (parec of a null
 * sink's monitor); once armed by SIGUSR1, find the first RUN_FRAMES frames in a row whose every
 * sample's magnitude is at most THRESHOLD, print the CLOCK_REALTIME time in ns at which that
 * quiet stretch began (the time it was read, less its length at 44.1 kHz) and exit 0. Exit 1 on
 * end of input. What was read before arming is dropped.
 * Build: cc -O2 -o silence silence.c */
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t armed;

static void on_usr1(int sig) {
  (void)sig;
  armed = 1;
}

int main(int argc, char **argv) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_usr1;
  sigaction(SIGUSR1, &sa, NULL); /* no SA_RESTART: read() returns EINTR */
  long thr = argc > 1 ? strtol(argv[1], NULL, 10) : 64;
  long run_frames = argc > 2 ? strtol(argv[2], NULL, 10) : 441;

  int16_t frames[2048][2];
  long quiet = 0;
  for (;;) {
    ssize_t n = read(0, frames, sizeof frames);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    if (!armed) continue;
    for (ssize_t i = 0; i < n / 4; ++i) {
      int loud =
          frames[i][0] > thr || frames[i][0] < -thr || frames[i][1] > thr || frames[i][1] < -thr;
      quiet = loud ? 0 : quiet + 1;
      if (quiet >= run_frames) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        long long ns = (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
        /* the frames after this one in the block were read at the same moment */
        long after = (long)(n / 4 - 1 - i);
        ns -= (long long)(run_frames + after) * 1000000000LL / 44100;
        printf("%lld\n", ns);
        return 0;
      }
    }
  }
}
