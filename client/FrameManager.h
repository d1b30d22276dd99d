#pragma once
// The board view: the board picture with its 7 x 5 grid, the pages placed on it and the
// enlarged view of one page.

#include <QObject>
#include <QPointer>
#include <cstdint>
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
  // A board clear took the placed pages away: a gesture on one of them ends here, without the
  // snap, deletion or opening its release would have made.
  void ForgetPageGesture();
  // Places a page of the slide strip on the cell under the main window's grid marker and sends
  // the info message when due, then "add". x and y (the drop point) do not affect the place.
  // A failed send raises; the page stays placed.
  void AddItem(int x, int y, ui::Image* thumbnail);
  // Closes the enlarged view without a message, showing the page it was opened on again; the
  // caller tests and clears flg_shrink. From another thread the work is queued to the UI thread
  // (not waited for, so a receive thread that the window is waiting for cannot deadlock it).
  void ToSmallImage();

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

  // Slide-strip thumbnails from which pages were placed, in placement order (not owned; null
  // once a thumbnail is destroyed).
  std::vector<QPointer<ui::Image>> list_img_show;
  // The user's tap closed the enlarged view; the next "tosmall" only clears this. UI thread only:
  // the receive loop tests and clears it in the work it runs on the UI thread.
  bool flg_shrink = false;

 private:
  // The release or leave of a placed page: a drag ends in a snap or a deletion (top beyond
  // delete_top), a tap opens the enlarged view.
  void EndPageGesture(ui::Image* page, float delete_top);
  // "shrink" with the id, then the page the view was opened on shows again and the view closes.
  void CloseEnlarged(std::int32_t id);
  // The strip page id_down in img_mid, when the strip has it.
  void ShowStripPage();
};
