#include "FrameStorm.h"

#include "ui/Types.h"

namespace {
// One timeline exists; its interaction state lives beside the class.
bool flg_timeline = true;
ui::Image* img_edit = nullptr;
ui::Image* img_delete = nullptr;
ui::CalloutRectangle* tmp_cr = nullptr;
int click_tag = -1;
bool flg_edit = false;
ui::AlphaColor color_edit = 0;
bool flg_add_icon = true;
}  // namespace

TFrameStorm::TFrameStorm(QObject* owner) : ui::Frame(owner) {
  LoadDescription(QStringLiteral(":/ui/FrameStorm.json"));
  img_bg = Find<ui::Image>(QStringLiteral("img_bg"));
  timeline = Find<ui::Line>(QStringLiteral("timeline"));
  scroll_timeline = Find<ui::HorzScrollBox>(QStringLiteral("scroll_timeline"));
  txt_time = Find<ui::Text>(QStringLiteral("txt_time"));
  timer_sync = Find<ui::Timer>(QStringLiteral("timer_sync"));
  cr_temp = Find<ui::CalloutRectangle>(QStringLiteral("cr_temp"));
  imagelist = Find<ui::ImageList>(QStringLiteral("imagelist"));
  count_idea = 0;
  // A new frame (a test may make several in one process) starts from the start values.
  flg_timeline = true;
  img_edit = img_delete = nullptr;
  tmp_cr = nullptr;
  click_tag = -1;
  flg_edit = false;
  color_edit = 0;
  flg_add_icon = true;
}

TFrameStorm::~TFrameStorm() {
  img_edit = img_delete = nullptr;
  tmp_cr = nullptr;
}

void TFrameStorm::InitValue() {
  flg_edit = false;
  click_tag = -1;
  flg_timeline = true;
  flg_add_icon = true;
}

void TFrameStorm::timer_sync_on(QObject*) {}
void TFrameStorm::click_cr(QObject*) {}
void TFrameStorm::click_img_edit(QObject*) {}
void TFrameStorm::click_img_delete(QObject*) {}
