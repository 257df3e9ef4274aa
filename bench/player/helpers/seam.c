/* seam RATE FREQ_HZ LOOP_FRAMES [SKIP_MS] < recording.s16le
 *
 * Looks for the seams of a looped test tone in a recording of the sound
 * server's monitor (interleaved stereo s16le).  The tone is left = A sin(wn),
 * right = A cos(wn), so at every frame the envelope sqrt(L^2 + R^2) is A and
 * the phase atan2(L, R) grows by exactly w = 2 pi FREQ / RATE.  The file is
 * LOOP_FRAMES long and holds a whole number of periods, so a sample-exact
 * loop is indistinguishable from an endless tone; anything else shows:
 *   - a gap: frames whose envelope is under A/4 (silence inserted),
 *   - a dip: envelope under 0.9 A (a fade or a level step),
 *   - a jump: a frame-to-frame step larger than 1.5 times the tone's own
 *     largest step 2 A sin(w/2) (a click),
 *   - a phase slip: the phase after the event differs from the phase the tone
 *     would have had, in frames modulo one period (dropped or repeated data).
 * The first SKIP_MS of the recording are ignored (a freshly connected monitor
 * recorder hands out stale audio first).  Analysis starts 50 ms after the
 * first frame louder than A_MIN, so the start of playback is not taken for
 * a seam.  Events closer than 20 ms are
 * merged.  An event within 100 ms of where the next seam is due
 * (the previous seam plus LOOP_FRAMES plus what that seam inserted) counts
 * as that seam; others are listed as "off-seam" (an underrun, say).
 *
 * Output: one line per event, then a summary line:
 *   summary loops=N seams_due=N events=N seam_events=N seam_gap_ms=X
 *           seam_jump_ratio=X seam_slip_frames=X off_seam_gap_ms=X
 *           off_seam_jump_ratio=X dip_frames=N amplitude=A
 * The seam_ figures cover the seams (a jump ratio of 1.00 with no seam
 * event: the largest step anywhere outside events); the off_seam_ ones the
 * events elsewhere, which are not the loop's doing (output underruns).
 * Exit 0 when the recording had sound, 1 otherwise.
 * Build: cc -O2 -o seam seam.c -lm */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define A_MIN 1000.0

typedef struct {
  long start, end;    /* frame range of the anomalous frames */
  long gap_frames;    /* frames under A/4 */
  long dip_frames;    /* frames under 0.9 A */
  double jump_ratio;  /* largest step / the tone's largest step */
  double slip_frames; /* phase slip across the event, frames mod period */
  int seam;           /* 1 if it is where a seam is due */
} event_t;

static double wrap(double x) { /* into (-pi, pi] */
  while (x > M_PI) x -= 2 * M_PI;
  while (x <= -M_PI) x += 2 * M_PI;
  return x;
}

static int cmp_double(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: seam RATE FREQ_HZ LOOP_FRAMES [SKIP_MS] < s16le-stereo\n");
    return 2;
  }
  double rate = atof(argv[1]), freq = atof(argv[2]);
  long loop = atol(argv[3]);
  size_t skip = argc > 4 ? (size_t)(atof(argv[4]) / 1000 * rate) : 0;
  double w = 2 * M_PI * freq / rate, period = rate / freq;

  size_t cap = 1 << 20, n = 0;
  int16_t *pcm = malloc(cap * 2 * sizeof *pcm);
  for (;;) {
    if (n == cap) pcm = realloc(pcm, (cap *= 2) * 2 * sizeof *pcm);
    size_t got = fread(pcm + 2 * n, 2 * sizeof *pcm, cap - n, stdin);
    if (got == 0) break;
    n += got;
  }
  long onset = -1;
  for (size_t i = skip; i < n; i++) {
    double l = pcm[2 * i], r = pcm[2 * i + 1];
    if (sqrt(l * l + r * r) > A_MIN) {
      onset = (long)i;
      break;
    }
  }
  if (onset < 0) {
    printf("summary no-sound frames=%zu\n", n);
    return 1;
  }
  long from = onset + (long)(0.05 * rate);
  if (from + 2 >= (long)n) {
    printf("summary too-short frames=%zu\n", n);
    return 1;
  }

  /* the tone's amplitude: median envelope (gaps do not move a median) */
  long count = (long)n - from;
  double *env = malloc(count * sizeof *env), *sorted = malloc(count * sizeof *sorted);
  for (long i = 0; i < count; i++) {
    double l = pcm[2 * (from + i)], r = pcm[2 * (from + i) + 1];
    env[i] = sorted[i] = sqrt(l * l + r * r);
  }
  qsort(sorted, count, sizeof *sorted, cmp_double);
  double amp = sorted[count / 2];
  double step_max = 2 * amp * sin(w / 2);
  free(sorted);

  event_t ev[4096];
  int nev = 0;
  long dip_total = 0;
  double calm_jump = 0; /* the largest step outside every event */
  const long merge = (long)(0.02 * rate);
  for (long i = 1; i < count; i++) {
    long f = from + i;
    double l0 = pcm[2 * (f - 1)], r0 = pcm[2 * (f - 1) + 1];
    double l1 = pcm[2 * f], r1 = pcm[2 * f + 1];
    double jump = fmax(fabs(l1 - l0), fabs(r1 - r0)) / step_max;
    int gap = env[i] < amp / 4, dip = env[i] < 0.9 * amp;
    /* the phase step only means something where both frames are loud */
    double dphase = (env[i] >= 0.9 * amp && env[i - 1] >= 0.9 * amp)
                        ? fabs(wrap(atan2(l1, r1) - atan2(l0, r0) - w))
                        : 0;
    int bad = gap || dip || jump > 1.5 || dphase > 0.05;
    if (!bad) {
      if (jump > calm_jump) calm_jump = jump;
      continue;
    }
    dip_total += dip;
    if (nev > 0 && f - ev[nev - 1].end <= merge) {
      event_t *e = &ev[nev - 1];
      e->end = f;
      e->gap_frames += gap;
      e->dip_frames += dip;
      if (jump > e->jump_ratio) e->jump_ratio = jump;
    } else if (nev < (int)(sizeof ev / sizeof *ev)) {
      ev[nev++] = (event_t){f, f, gap, dip, jump, 0, 0};
    }
  }

  /* phase slip: the phase 5 ms after an event against the phase 5 ms
   * before it carried forward at w per frame */
  long guard = (long)(0.005 * rate);
  for (int k = 0; k < nev; k++) {
    long a = ev[k].start - guard, b = ev[k].end + guard;
    if (a < from || b >= (long)n) {
      ev[k].slip_frames = NAN;
      continue;
    }
    double pa = atan2(pcm[2 * a], pcm[2 * a + 1]), pb = atan2(pcm[2 * b], pcm[2 * b + 1]);
    ev[k].slip_frames = wrap(pb - pa - w * (double)(b - a)) / w;
  }

  /* which events are seams: within 100 ms of where one is due (an MP3 runs
   * longer than its source by the encoder's delay and padding, ~50 ms) */
  long due = onset + loop, near = (long)(0.1 * rate);
  if (near > loop / 4) near = loop / 4;
  int seam_events = 0, seams_due = 0;
  for (int k = 0; k < nev; k++) {
    while (ev[k].start > due + near) {
      due += loop;
    } /* clean seams passed */
    if (labs(ev[k].start - due) <= near) {
      ev[k].seam = 1;
      seam_events++;
      due += loop + (ev[k].end - ev[k].start);
    }
  }
  long loops = ((long)n - onset) / loop;
  seams_due = (int)loops;

  double seam_gap = 0, seam_jump = calm_jump, seam_slip = 0, off_gap = 0, off_jump = 0;
  for (int k = 0; k < nev; k++) {
    event_t *e = &ev[k];
    double gap_ms = e->gap_frames * 1000.0 / rate;
    printf(
        "event at=%.3fs len_ms=%.2f gap_ms=%.2f dip_frames=%ld jump_ratio=%.2f slip_frames=%.2f "
        "%s\n",
        (e->start - onset) / rate, (e->end - e->start + 1) * 1000.0 / rate, gap_ms, e->dip_frames,
        e->jump_ratio, e->slip_frames, e->seam ? "seam" : "off-seam");
    if (e->seam) {
      if (gap_ms > seam_gap) seam_gap = gap_ms;
      if (e->jump_ratio > seam_jump) seam_jump = e->jump_ratio;
      if (!isnan(e->slip_frames) && fabs(e->slip_frames) > fabs(seam_slip))
        seam_slip = e->slip_frames;
    } else {
      if (gap_ms > off_gap) off_gap = gap_ms;
      if (e->jump_ratio > off_jump) off_jump = e->jump_ratio;
    }
  }
  printf(
      "summary loops=%ld seams_due=%d events=%d seam_events=%d seam_gap_ms=%.2f "
      "seam_jump_ratio=%.2f seam_slip_frames=%.2f off_seam_gap_ms=%.2f off_seam_jump_ratio=%.2f "
      "dip_frames=%ld amplitude=%.0f period_frames=%.1f\n",
      loops, seams_due, nev, seam_events, seam_gap, seam_jump, seam_slip, off_gap, off_jump,
      dip_total, amp, period);
  free(env);
  free(pcm);
  return 0;
}
