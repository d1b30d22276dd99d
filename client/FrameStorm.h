#pragma once
// The idea timeline: every sent idea as a card, alternately below and above the time line.

#include <QObject>

#include "ui/Controls.h"
#include "ui/Form.h"

class TFrameStorm : public ui::Frame {
  Q_OBJECT
 public:
  Q_INVOKABLE explicit TFrameStorm(QObject* owner);
  ~TFrameStorm() override;

  // Resets the selection, the edit and the side of the next card.
  void InitValue();

  Q_INVOKABLE void timer_sync_on(QObject* sender);
  Q_INVOKABLE void click_cr(QObject* sender);
  Q_INVOKABLE void click_img_edit(QObject* sender);
  Q_INVOKABLE void click_img_delete(QObject* sender);

  // Components.
  ui::Image* img_bg;
  ui::Line* timeline;
  ui::HorzScrollBox* scroll_timeline;
  ui::Text* txt_time;
  ui::Timer* timer_sync;
  ui::CalloutRectangle* cr_temp;
  ui::ImageList* imagelist;

  // Cards added since the last reset; a new card's number is count_idea + 1.
  int count_idea = 0;
};
