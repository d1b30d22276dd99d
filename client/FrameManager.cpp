#include "FrameManager.h"

namespace {
// One board view exists; its interaction state lives beside the class.
int x_center_show = 0;
int y_center_show = 0;
bool flg_down_show = false;
bool flg_move = false;
bool flg_move_mid = false;
ui::Image* tmp_show = nullptr;
int id_down = 0;
int x_down = 0;
}  // namespace

TFrameManager::TFrameManager(QObject* owner) : ui::Frame(owner) {
  LoadDescription(QStringLiteral(":/ui/FrameManager.json"));
  img_bg = Find<ui::Image>(QStringLiteral("img_bg"));
  img_grid = Find<ui::Image>(QStringLiteral("img_grid"));
  img_select = Find<ui::Image>(QStringLiteral("img_select"));
  img_del_panel = Find<ui::Image>(QStringLiteral("img_del_panel"));
  img_del_ic = Find<ui::Image>(QStringLiteral("img_del_ic"));
  pb_show = Find<ui::PaintBox>(QStringLiteral("pb_show"));
  rect_clip = Find<ui::Rectangle>(QStringLiteral("rect_clip"));
  img_close = Find<ui::Image>(QStringLiteral("img_close"));
  img_zoom = Find<ui::Image>(QStringLiteral("img_zoom"));
  img_bottom = Find<ui::Image>(QStringLiteral("img_bottom"));
  img_mid = Find<ui::Image>(QStringLiteral("img_mid"));
  anime_img = Find<ui::FloatAnimation>(QStringLiteral("anime_img"));
  img_left = Find<ui::Image>(QStringLiteral("img_left"));
  img_right = Find<ui::Image>(QStringLiteral("img_right"));
  img_shadow_tmp = Find<ui::Image>(QStringLiteral("img_shadow_tmp"));

  flg_shrink = false;
  flg_down_show = false;
  flg_move = false;
  flg_move_mid = false;
  tmp_show = nullptr;
  x_center_show = y_center_show = id_down = x_down = 0;
}

TFrameManager::~TFrameManager() {
  tmp_show = nullptr;
}

void TFrameManager::InitValue() {
  flg_down_show = false;
  flg_move = false;
  flg_move_mid = false;
}

void TFrameManager::pb_showClick(QObject*) {}
void TFrameManager::img_close_click(QObject*) {}
void TFrameManager::img_zoom_click(QObject*) {}
void TFrameManager::img_mid_down(QObject*, ui::MouseButton, ui::ShiftState, float, float) {}
void TFrameManager::img_mid_move(QObject*, ui::ShiftState, float, float) {}
void TFrameManager::img_mid_up(QObject*, ui::MouseButton, ui::ShiftState, float, float) {}
void TFrameManager::img_left_click(QObject*) {}
void TFrameManager::img_right_click(QObject*) {}
void TFrameManager::anime_imgFinish(QObject*) {}
void TFrameManager::mouse_down_img_show(QObject*, ui::MouseButton, ui::ShiftState, float, float) {}
void TFrameManager::mouse_move_img_show(QObject*, ui::ShiftState, float, float) {}
void TFrameManager::mouse_up_img_show(QObject*, ui::MouseButton, ui::ShiftState, float, float) {}
void TFrameManager::mouse_leave_img_show(QObject*) {}
