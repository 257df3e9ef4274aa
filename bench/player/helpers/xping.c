/* xping PID T0_US DURATION_MS : how long the main thread of the X client PID
 * goes without handling its X events, from outside.
 *
 * Waits for a window of PID (_NET_WM_PID) that takes _NET_WM_PING in its
 * WM_PROTOCOLS (toolkits answer that ping from their event loop, on the
 * main thread, by sending it back to the root window), then pings it without
 * pause: one ping in flight, the next sent 1 ms after the answer.  A ping's
 * round trip is how long the client's event handling was away.  Hidden
 * windows answer as well, so this works with the panel hidden (the tray icon
 * window is enough).
 * T0_US is the exec time in microseconds since the epoch (bash's
 * ${EPOCHREALTIME/./}); times below are relative to it.
 * Output (one line):
 *   window_ms=X first_reply_ms=X pings=N max_rtt_ms=X max_at_ms=X
 *   max_rtt_after_first_ms=X p50_rtt_ms=X exited=0|1 unanswered=0|1
 * unanswered=1: the last ping had no answer by the end (or the exit), and
 * max_rtt_ms counts its wait so far, a lower bound.
 * first_reply_ms - window_ms is how long the client took from creating the
 * window to its first pass through the event loop (start-up work done on the
 * main thread in between, a command-line track's opening included).
 * max_rtt_after_first_ms is the longest stall once the event loop runs.
 * Build: cc -O2 -o xping xping.c -lX11 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static long long now_us(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static Atom a_pid, a_protocols, a_ping;

static int has_ping(Display *d, Window w) {
  Atom *protos = NULL;
  int n = 0, found = 0;
  if (XGetWMProtocols(d, w, &protos, &n)) {
    for (int i = 0; i < n; i++) found |= protos[i] == a_ping;
    XFree(protos);
  }
  return found;
}

static long window_pid(Display *d, Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char *data = NULL;
  long pid = -1;
  if (XGetWindowProperty(d, w, a_pid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (count == 1 && format == 32) pid = (long)*(unsigned long *)data;
    XFree(data);
  }
  return pid;
}

/* depth-first: the tray host reparents the icon's window into its own */
static Window find(Display *d, Window w, long pid) {
  if (window_pid(d, w) == pid && has_ping(d, w)) return w;
  Window root, parent, *kids = NULL, hit = None;
  unsigned int n = 0;
  if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return None;
  for (unsigned int i = 0; i < n && hit == None; i++) hit = find(d, kids[i], pid);
  if (kids) XFree(kids);
  return hit;
}

static int ignore_errors(Display *d, XErrorEvent *e) {
  (void)d;
  (void)e;
  return 0;
}

static int cmp_ll(const void *a, const void *b) {
  long long x = *(const long long *)a, y = *(const long long *)b;
  return (x > y) - (x < y);
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: xping PID T0_US DURATION_MS\n");
    return 2;
  }
  long pid = atol(argv[1]);
  long long t0 = atoll(argv[2]), until = t0 + atoll(argv[3]) * 1000LL;
  Display *d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "xping: cannot open display\n");
    return 2;
  }
  XSetErrorHandler(ignore_errors); /* windows vanish under our feet */
  a_pid = XInternAtom(d, "_NET_WM_PID", False);
  a_protocols = XInternAtom(d, "WM_PROTOCOLS", False);
  a_ping = XInternAtom(d, "_NET_WM_PING", False);
  Window root = DefaultRootWindow(d);
  /* toolkits send the answer to the root with one of these masks (Qt: structure,
   * GTK: substructure); SubstructureRedirect is the window manager's alone */
  XSelectInput(d, root, StructureNotifyMask | SubstructureNotifyMask);

  Window target = None;
  long long window_at = 0;
  while (now_us() < until && kill((pid_t)pid, 0) == 0) {
    target = find(d, root, pid);
    if (target != None) {
      window_at = now_us();
      break;
    }
    usleep(2000);
  }
  if (target == None) {
    printf(
        "window_ms=NA first_reply_ms=NA pings=0 max_rtt_ms=NA max_at_ms=NA "
        "max_rtt_after_first_ms=NA p50_rtt_ms=NA exited=%d\n",
        kill((pid_t)pid, 0) != 0);
    return 1;
  }

  static long long rtts[1 << 20];
  long npings = 0;
  long long max_rtt = 0, max_at = 0, max_after = 0, first_reply = 0;
  int exited = 0, unanswered = 0;
  int fd = ConnectionNumber(d);
  while (now_us() < until && npings < (long)(sizeof rtts / sizeof *rtts)) {
    XEvent ping;
    memset(&ping, 0, sizeof ping);
    ping.xclient.type = ClientMessage;
    ping.xclient.window = target;
    ping.xclient.message_type = a_protocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = (long)a_ping;
    ping.xclient.data.l[1] = npings + 1; /* the timestamp slot carries our serial */
    ping.xclient.data.l[2] = (long)target;
    long long sent = now_us();
    XSendEvent(d, target, False, NoEventMask, &ping);
    XFlush(d);
    int answered = 0;
    while (!answered) {
      while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == ClientMessage && e.xclient.message_type == a_protocols &&
            (Atom)e.xclient.data.l[0] == a_ping && e.xclient.data.l[1] == npings + 1)
          answered = 1;
      }
      if (answered) break;
      if (now_us() >= until) break;
      if (kill((pid_t)pid, 0) != 0) {
        exited = 1;
        break;
      }
      struct pollfd p = {fd, POLLIN, 0};
      poll(&p, 1, 20);
    }
    if (!answered) {
      /* still waiting at the end: the stall lasted at least this long */
      long long open = now_us() - sent;
      if (open > max_rtt) {
        max_rtt = open;
        max_at = sent;
      }
      unanswered = 1;
      break;
    }
    long long got = now_us(), rtt = got - sent;
    rtts[npings++] = rtt;
    if (!first_reply)
      first_reply = got;
    else if (rtt > max_after)
      max_after = rtt;
    if (rtt > max_rtt) {
      max_rtt = rtt;
      max_at = sent;
    }
    usleep(1000);
  }
  if (kill((pid_t)pid, 0) != 0) exited = 1;
  long long p50 = 0;
  if (npings) {
    qsort(rtts, npings, sizeof *rtts, cmp_ll);
    p50 = rtts[npings / 2];
  }
  printf(
      "window_ms=%.1f first_reply_ms=%.1f pings=%ld max_rtt_ms=%.1f max_at_ms=%.1f "
      "max_rtt_after_first_ms=%.1f p50_rtt_ms=%.2f exited=%d unanswered=%d\n",
      (window_at - t0) / 1000.0, first_reply ? (first_reply - t0) / 1000.0 : -1.0, npings,
      max_rtt / 1000.0, (max_at - t0) / 1000.0, max_after / 1000.0, p50 / 1000.0, exited,
      unanswered);
  XCloseDisplay(d);
  return 0;
}
