#pragma once

#include "plugin/host/avi_settings.h"

// Writes the defaults over all 520 bytes. A compressor-state block the record
// might own is not released: the host passes a record that owns none.
void FillDefaultSettings(AviSettings* settings);
