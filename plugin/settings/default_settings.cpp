#include "plugin/settings/default_settings.h"

#include <cstring>

#include "plugin/host/host_api.h"

void FillDefaultSettings(AviSettings* s) {
  const bool ntsc = HostIsNtsc() != 0;
  std::memset(s, 0, sizeof *s);
  s->compressorHandler = 0;
  s->frameRate = ntsc ? 29.97f : 25.0f;
  s->width = 160;
  s->height = 120;
  s->lockAspect = 0;
  s->aspectX = 4;
  s->aspectY = 3;
  s->colorFormat = kColor24;
  s->quality = 7500;
  s->keyFrameEvery = 4;
  s->dataRate = -1;
  s->dataRateChoice = 0;
  s->interleaveFrames = 30;
  s->audioFormat[1] = 16;
  s->audioFormat[2] = 44100;
  s->audioFormat[3] = 2;
  s->audioAvailable = 1;
  s->audioEnabled = 1;
  s->hwAccel = HostHasHardware();
  s->hwAccelOptions[2] = 64;
  s->hwAccelOptions[3] = 128;
  s->hwAccelOptions[4] = 64;
}
