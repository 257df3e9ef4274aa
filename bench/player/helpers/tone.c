/* tone SECONDS RATE FREQ_HZ OUT.wav : the loop test tone, 16-bit stereo
 * WAV, left = A sin(wn), right = A cos(wn), A = half of full scale.
 * FREQ should divide RATE * SECONDS periods exactly (441 Hz at 44.1 kHz is
 * 100 frames a period), so the file ends where its first frame would follow
 * and a sample-exact loop is an endless tone.  sox's synth does not start
 * at phase 0 exactly, hence this.
 * Build: cc -O2 -o tone tone.c -lm */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static void le32(FILE *f, uint32_t v) {
  unsigned char b[4] = {v & 255, (v >> 8) & 255, (v >> 16) & 255, v >> 24};
  fwrite(b, 1, 4, f);
}
static void le16(FILE *f, uint16_t v) {
  unsigned char b[2] = {v & 255, v >> 8};
  fwrite(b, 1, 2, f);
}

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: tone SECONDS RATE FREQ_HZ OUT.wav\n");
    return 2;
  }
  double seconds = atof(argv[1]), freq = atof(argv[3]);
  uint32_t rate = (uint32_t)atol(argv[2]);
  uint32_t frames = (uint32_t)llround(seconds * rate);
  FILE *f = fopen(argv[4], "wb");
  if (!f) {
    perror(argv[4]);
    return 1;
  }
  uint32_t data_bytes = frames * 4;
  fwrite("RIFF", 1, 4, f);
  le32(f, 36 + data_bytes);
  fwrite("WAVE", 1, 4, f);
  fwrite("fmt ", 1, 4, f);
  le32(f, 16);
  le16(f, 1);
  le16(f, 2);
  le32(f, rate);
  le32(f, rate * 4);
  le16(f, 4);
  le16(f, 16);
  fwrite("data", 1, 4, f);
  le32(f, data_bytes);
  const double amp = 16384.0, w = 2 * M_PI * freq / rate;
  for (uint32_t n = 0; n < frames; n++) {
    le16(f, (uint16_t)(int16_t)lrint(amp * sin(w * n)));
    le16(f, (uint16_t)(int16_t)lrint(amp * cos(w * n)));
  }
  return fclose(f) == 0 ? 0 : 1;
}
