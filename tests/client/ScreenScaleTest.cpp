// Screen scaling: the four globals and the panel scale for typical screens.

#include <gtest/gtest.h>

#include "ClientQtEnvironment.h"
#include "MainForm.h"

namespace {

using ScreenScale = clienttest::WindowTest;

TEST_F(ScreenScale, GlobalsAndPanelScaleForTypicalScreens) {
  struct Row {
    int width, height;
    double dpi;
    float dpi_x, dpi_y, scale, panel, height_un;
  };
  const Row rows[] = {
      {1920, 1080, 1.0, 2.0f, 2.0f, 0.5f, 2.0f, 0.0f},
      {1920, 1080, 1.5, 2.0f, 2.0f, 0.75f, 1.3333334f, 0.0f},
      {3840, 2160, 2.0, 4.0f, 4.0f, 0.5f, 2.0f, 0.0f},
      {1920, 1200, 1.0, 2.0f, 2.2222223f, 0.5f, 2.0f, 26.999998f},
      {2560, 1600, 1.5, 2.6666667f, 2.962963f, 0.5625f, 1.7777778f, 27.0f},
      {1280, 1024, 1.0, 1.3333334f, 1.8962963f, 0.75f, 1.3333334f, 80.15625f},
      {1366, 768, 1.0, 1.4229167f, 1.4222223f, 0.70278186f, 1.4229167f, -0.13183594f},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.width << " x " << r.height << " at " << r.dpi);
    auto form = MakeWindow({r.width, r.height}, r.dpi);
    EXPECT_EQ(form->screen_width, r.width);
    EXPECT_EQ(form->screen_height, r.height);
    EXPECT_FLOAT_EQ(scale_dpi_x, r.dpi_x);
    EXPECT_FLOAT_EQ(scale_dpi_y, r.dpi_y);
    EXPECT_FLOAT_EQ(scale_x, r.scale);
    EXPECT_FLOAT_EQ(form->Panel1->ScaleX(), r.panel);
    EXPECT_FLOAT_EQ(form->Panel1->ScaleY(), r.panel);
    EXPECT_FLOAT_EQ(height_un, r.height_un);
    // In front of the background that the description places after it.
    EXPECT_GT(form->Panel1->Index(), form->img_bg_top->Index());
  }
}

}  // namespace
