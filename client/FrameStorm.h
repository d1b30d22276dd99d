#pragma once
// The idea timeline: every sent idea as a card, alternately below and above the time line.

#include <QObject>
#include <ctime>
#include <functional>

#include "rtl/CodePage.h"
#include "ui/Controls.h"
#include "ui/Form.h"

// The local time of day, read by the timeline's clock and by the time stamp of a sent idea.
std::tm LocalTimeNow();
// Replaces the clock behind LocalTimeNow (tests fix the time of day); an empty function brings
// the system clock back.
void SetLocalClock(std::function<std::tm()> clock);

class TFrameStorm : public ui::Frame {
  Q_OBJECT
 public:
  Q_INVOKABLE explicit TFrameStorm(QObject* owner);
  ~TFrameStorm() override;

  // Adds a card numbered count_idea + 1 and sends "add" (the PC's info first when it is the
  // first card since the last reset); while a card is being edited, updates that card instead
  // and sends "edit". A failed send raises; what was done on the timeline before it stays.
  void AddItem(const rtl::UnicodeString& user, const rtl::UnicodeString& time,
               const rtl::UnicodeString& text);
  // Resets the selection, the edit and the side of the next card; the buttons are made anew at
  // the next card click. The cards and count_idea are left to the main window's ClearValue.
  void InitValue();

  Q_INVOKABLE void timer_sync_on(QObject* sender);
  Q_INVOKABLE void click_cr(QObject* sender);
  Q_INVOKABLE void click_img_edit(QObject* sender);
  Q_INVOKABLE void click_img_delete(QObject* sender);

  // Read-only view of the timeline's interaction state.
  ui::Image* EditButton() const;    // nullptr until the first card click
  ui::Image* DeleteButton() const;  // nullptr until the first card click
  ui::CalloutRectangle* SelectedCard() const;
  int ClickTag() const;  // Tag of the card the buttons were last shown beside, -1 for none
  bool Editing() const;

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

 private:
  void MakeButtons();
};
