#pragma once
// The board view: the board picture with its 7 x 5 grid, the pages placed on it and the
// enlarged view of one page.

#include <QObject>
#include <vector>

#include "ui/Controls.h"
#include "ui/Form.h"

class TFrameManager : public ui::Frame {
  Q_OBJECT
 public:
  Q_INVOKABLE explicit TFrameManager(QObject* owner);
  ~TFrameManager() override;

  // Clears the press and drag flags.
  void InitValue();

  // Handlers of the description.
  Q_INVOKABLE void pb_showClick(QObject* sender);
  Q_INVOKABLE void img_close_click(QObject* sender);
  Q_INVOKABLE void img_zoom_click(QObject* sender);
  Q_INVOKABLE void img_mid_down(QObject* sender, ui::MouseButton button, ui::ShiftState shift,
                                float x, float y);
  Q_INVOKABLE void img_mid_move(QObject* sender, ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void img_mid_up(QObject* sender, ui::MouseButton button, ui::ShiftState shift,
                              float x, float y);
  Q_INVOKABLE void img_left_click(QObject* sender);
  Q_INVOKABLE void img_right_click(QObject* sender);
  Q_INVOKABLE void anime_imgFinish(QObject* sender);
  // Handlers of the placed pages, bound when a page is placed.
  Q_INVOKABLE void mouse_down_img_show(QObject* sender, ui::MouseButton button,
                                       ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void mouse_move_img_show(QObject* sender, ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void mouse_up_img_show(QObject* sender, ui::MouseButton button, ui::ShiftState shift,
                                     float x, float y);
  Q_INVOKABLE void mouse_leave_img_show(QObject* sender);

  // Components.
  ui::Image* img_bg;
  ui::Image* img_grid;
  ui::Image* img_select;
  ui::Image* img_del_panel;
  ui::Image* img_del_ic;
  ui::PaintBox* pb_show;
  ui::Rectangle* rect_clip;
  ui::Image* img_close;
  ui::Image* img_zoom;
  ui::Image* img_bottom;
  ui::Image* img_mid;
  ui::FloatAnimation* anime_img;
  ui::Image* img_left;
  ui::Image* img_right;
  ui::Image* img_shadow_tmp;

  // Slide-strip thumbnails from which pages were placed, in placement order (not owned).
  std::vector<ui::Image*> list_img_show;
  // The user's tap closed the enlarged view; the next "tosmall" only clears this.
  bool flg_shrink = false;
};
