// Placeholder so the plugin test program exists from the start.
#include <gtest/gtest.h>

#include "plugin/settings/avi_settings.h"

TEST(Records, SettingsRecordIs520Bytes) {
  EXPECT_EQ(sizeof(AviSettings), 520u);
}
