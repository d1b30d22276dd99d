// The board view: placed pages moved, snapped, deleted and opened; the enlarged page with its
// paging; all through the form's dispatch, with the board on the wire.

#include <gtest/gtest.h>

#include <QPointF>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include "BoardViewFixture.h"

namespace {

using clienttest::BoardViewTest;
using clienttest::IsImage;
using clienttest::Sent;

class BoardView : public BoardViewTest {
 protected:
  // Places strip page `position` by a click; returns the placed page (drained of messages).
  ui::Image* Place(int position) {
    ClickThumb(position);
    Received();
    return qobject_cast<ui::Image*>(View().img_bg->Child(View().img_bg->ChildrenCount() - 1));
  }
  void Tap(ui::Control* c, QPointF local) {
    const QPointF p = At(c, local);
    Press(p);
    Release(p);
  }
  void Open(ui::Image* page) {
    Tap(page, {50, 50});
    ASSERT_TRUE(View().pb_show->Visible());
    Received();
  }
  // A press on the enlarged page, one move halfway, the release `dx` units from the press.
  void Swipe(float dx) {
    const QPointF from = At(View().img_mid, {200, 100});
    Press(from);
    Move(from + QPointF(dx / 2, 0));
    Release(from + QPointF(dx, 0));
  }
  static int Count(const std::vector<Sent>& sent, const char* action) {
    int n = 0;
    for (const Sent& s : sent) n += s.kind == 1 && s.action == action;
    return n;
  }
};

TEST_F(BoardView, ATapOpensThePageAndOneMoveMakesItADrag) {
  OpenWindow(3);
  ui::Image* page = Place(1);
  // One move event, even without displacement: a drag that ends in a snap.
  const QPointF p = At(page, {50, 50});
  Press(p);
  Move(p);
  Release(p);
  auto sent = Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(IsImage(sent[0], "move", 418, 35, -1, 0));
  EXPECT_TRUE(IsImage(sent[1], "move", 418, 35, -1, 0));
  EXPECT_FALSE(View().pb_show->Visible());
  EXPECT_FALSE(View().img_select->Visible());

  // No move between press and release: the enlarged view opens on the page.
  Tap(page, {50, 50});
  sent = Received();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(IsImage(sent[0], "enlarge", -1, -1, 2, 0));
  EXPECT_TRUE(View().pb_show->Visible());
  EXPECT_FALSE(page->Visible());
  EXPECT_EQ(View().img_mid->Bitmap(), Thumb(1)->Bitmap());
  EXPECT_EQ(View().img_bottom->Bitmap(), Thumb(1)->Bitmap());
  EXPECT_EQ(View().img_mid->Tag(), 0);
  EXPECT_EQ(View().pb_show->Index(), View().ChildrenCount() - 1);
  EXPECT_EQ(View().img_zoom->Index(), View().rect_clip->ChildrenCount() - 1);
}

TEST_F(BoardView, TheEndOfADragSnapsOrDeletesByThePagesTop) {
  struct Case {
    float top;
    bool leave;
    bool deleted;
  };
  const Case cases[] = {
      {340.0f, false, false},
      {340.5f, false, true},
      {345.0f, true, false},  // the leave's threshold is 350
      {345.0f, false, true},
  };
  OpenWindow(4);
  for (int i = 0; i < 4; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(testing::Message() << c.top << (c.leave ? " leave" : " release"));
    ui::Image* page = Place(i);
    const float rest = c.top - 20.0f - 320.0f;
    DragPage(page, {0, 10}, 32);  // from a top of 20 to 340
    if (rest > 0) Move(last_ + QPointF(0, rest));
    EXPECT_FLOAT_EQ(page->Y(), c.top);
    EXPECT_TRUE(View().img_del_panel->Visible());
    if (c.leave)
      Leave();
    else
      Release(last_);
    const auto sent = Received();
    EXPECT_EQ(Count(sent, "move"), 32 + (rest > 0) + (c.deleted ? 0 : 1));
    EXPECT_FALSE(View().img_del_panel->Visible());
    EXPECT_FALSE(View().img_del_panel->Enabled());
    ASSERT_FALSE(sent.empty());
    if (c.deleted) {
      EXPECT_TRUE(IsImage(sent.back(), "delete", -1, -1, -1, i));
      EXPECT_EQ(page->ParentControl(), nullptr);
      EXPECT_TRUE(Thumb(i)->Enabled());  // it can be placed again
    } else {
      // Row 4: the highlight at y 335, the page's top at 320.
      EXPECT_TRUE(IsImage(sent.back(), "move", 418, 335, -1, i));
      EXPECT_EQ(page->Position(), QPointF(403.5, 320));
      EXPECT_EQ(page->ParentControl(), View().img_bg);
      EXPECT_FALSE(Thumb(i)->Enabled());
    }
  }
}

TEST_F(BoardView, APageIsHeldOnTheBoardAndHighlightsTheLastColumn) {
  OpenWindow(1);
  ui::Image* page = Place(0);
  DragPage(page, {30, 0}, 13, {20, 50});  // left edge 403.5 -> 793.5
  Move(last_ + QPointF(60, 0));           // 853.5 before clamping
  EXPECT_EQ(page->X(), 800);
  EXPECT_EQ(View().img_select->Position(), QPointF(807, 35));
  // Every move sends "move", the clamped one with the clamped place.
  auto sent = Received();
  EXPECT_EQ(Count(sent, "move"), 14);
  EXPECT_TRUE(IsImage(sent.back(), "move", 815, 35, -1, 0));
  Release(last_ + QPointF(60, 0));
  EXPECT_EQ(page->Position(), QPointF(793.5, 20));
  sent = Received();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(IsImage(sent[0], "move", 808, 35, -1, 0));

  // Upward beyond the board: held at the top, every move still sent.
  DragPage(page, {0, -10}, 4);
  EXPECT_EQ(page->Y(), 0);
  sent = Received();
  EXPECT_EQ(Count(sent, "move"), 4);
  EXPECT_TRUE(IsImage(sent.back(), "move", 808, 15, -1, 0));
  Release(last_);
}

TEST_F(BoardView, FarAboveOrLeftOfTheBoardTheHighlightStaysOnTheGrid) {
  OpenWindow(1);
  ui::Image* page = Place(0);
  // The second drag captures (AutoCapture came on with the first): one big move.
  DragPage(page, {0, 0}, 1);
  Release(last_);
  EXPECT_TRUE(page->AutoCapture());
  Received();
  DragPage(page, {-600, -400}, 1);
  EXPECT_EQ(View().img_select->Position(), QPointF(27, 35));
  Release(last_);
  EXPECT_EQ(page->Position(), QPointF(13.5, 20));
}

TEST_F(BoardView, TheDeleteStripArmsOneEventLate) {
  OpenWindow(1);
  ui::Image* page = Place(0);
  DragPage(page, {0, 10}, 33);  // top 20 -> 350; this move started at 340
  EXPECT_TRUE(View().img_del_panel->Visible());
  EXPECT_FALSE(View().img_del_panel->Enabled());
  Move(last_ + QPointF(0, 1));  // started at 350
  EXPECT_TRUE(View().img_del_panel->Enabled());
  Release(last_ + QPointF(0, 1));
  EXPECT_FALSE(View().img_del_panel->Visible());
}

TEST_F(BoardView, TheInfoGoesBeforeTheFirstPagesOfAnEmptyView) {
  OpenWindow(5);
  const auto kinds = [](const std::vector<Sent>& sent) {
    std::vector<int> k;
    for (const Sent& s : sent) k.push_back(s.kind);
    return k;
  };
  ClickThumb(0);
  EXPECT_EQ(kinds(Received()), (std::vector<int>{4, 1}));
  ClickThumb(1);
  EXPECT_EQ(kinds(Received()), (std::vector<int>{1}));

  // A board-view clear takes every child of img_bg from the third on, the delete strip too.
  ui::Image* bg = View().img_bg;
  while (bg->ChildrenCount() > 2) bg->Child(bg->ChildrenCount() - 1)->SetParent(nullptr);
  ClickThumb(2);
  EXPECT_EQ(kinds(Received()), (std::vector<int>{4, 1}));
  ClickThumb(3);
  EXPECT_EQ(kinds(Received()), (std::vector<int>{4, 1}));
  ClickThumb(4);
  EXPECT_EQ(kinds(Received()), (std::vector<int>{1}));

  // Without the strip a drop beyond the threshold still deletes.
  ui::Image* last = qobject_cast<ui::Image*>(bg->Child(bg->ChildrenCount() - 1));
  DragPage(last, {0, 10}, 33);
  EXPECT_EQ(View().img_del_panel->ParentControl(), nullptr);
  Release(last_);
  const auto sent = Received();
  ASSERT_FALSE(sent.empty());
  EXPECT_TRUE(IsImage(sent.back(), "delete", -1, -1, -1, 4));
  EXPECT_EQ(last->ParentControl(), nullptr);
}

TEST_F(BoardView, DeletingAnIdBeyondTheListEnablesNothingAndStillSends) {
  OpenWindow(1);
  ui::Image* page = Place(0);
  View().list_img_show.clear();
  DragPage(page, {0, 10}, 33);
  Release(last_);
  const auto sent = Received();
  ASSERT_FALSE(sent.empty());
  EXPECT_TRUE(IsImage(sent.back(), "delete", -1, -1, -1, 0));
  EXPECT_FALSE(Thumb(0)->Enabled());
}

TEST_F(BoardView, AReleaseOrLeaveWithoutAPressDoesNothing) {
  OpenWindow(1);
  ui::Image* page = Place(0);
  View().mouse_up_img_show(page, ui::MouseButton::Left, {}, 10, 10);
  View().mouse_leave_img_show(page);
  View().mouse_move_img_show(page, {}, 10, 10);
  EXPECT_TRUE(Received().empty());
  EXPECT_FALSE(View().pb_show->Visible());
  EXPECT_EQ(page->Position(), QPointF(403.5, 20));
}

// ---------------------------------------------------------------- enlarged page

TEST_F(BoardView, ASwipeBeyondSixtyUnitsChangesThePage) {
  struct Case {
    float dx;
    const char* action;  // nullptr: nothing
    int shown;           // strip position shown afterwards
  };
  const Case cases[] = {
      {60.0f, nullptr, 1}, {-60.0f, nullptr, 1}, {60.5f, "left", 0}, {-60.5f, "right", 2}};
  OpenWindow(3);
  ui::Image* page = Place(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dx);
    Open(page);
    Swipe(c.dx);
    EXPECT_TRUE(View().pb_show->Visible());
    EXPECT_FALSE(View().flg_shrink);
    EXPECT_EQ(View().img_mid->Bitmap(), Thumb(c.shown)->Bitmap());
    const auto sent = Received();
    if (c.action) {
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_TRUE(IsImage(sent[0], c.action, -1, -1, -1, -1));
    } else {
      EXPECT_TRUE(sent.empty());
    }
    View().anime_img->SetEnabled(false);  // the slide to its end
    Tap(View().img_zoom, {16, 16});
    Received();
  }
}

TEST_F(BoardView, ATapOnThePageClosesItAndReportsThePageItWasOpenedOn) {
  OpenWindow(3);
  ui::Image* page = Place(1);
  Open(page);
  View().img_left_click(View().img_left);  // page 1 shown
  View().anime_img->SetEnabled(false);
  Received();
  Tap(View().img_mid, {200, 100});
  const auto sent = Received();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(IsImage(sent[0], "shrink", -1, -1, -1, 0));
  EXPECT_TRUE(View().flg_shrink);
  EXPECT_FALSE(View().pb_show->Visible());
  EXPECT_TRUE(page->Visible());
  // The placed page keeps its own picture.
  EXPECT_EQ(qobject_cast<ui::Image*>(page->Child(0))->Bitmap(), Thumb(1)->Bitmap());
}

TEST_F(BoardView, TheShrinkButtonAndAClickBesideThePageCloseWithoutAnId) {
  OpenWindow(2);
  ui::Image* page = Place(0);
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way);
    Open(page);
    if (way == 0)
      Tap(View().img_zoom, {16, 16});
    else
      Tap(View().pb_show, {50, 50});  // beside the page and the arrows
    const auto sent = Received();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(IsImage(sent[0], "shrink", -1, -1, -1, -1));
    EXPECT_FALSE(View().flg_shrink);
    EXPECT_FALSE(View().pb_show->Visible());
    EXPECT_TRUE(page->Visible());
  }
}

TEST_F(BoardView, NoPagingBeforeTheFirstOrAfterTheLastPage) {
  OpenWindow(3);
  ui::Image* first = Place(0);
  Open(first);
  Tap(View().img_left, {25, 270});
  Swipe(100);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(View().img_mid->Bitmap(), Thumb(0)->Bitmap());
  Tap(View().img_zoom, {16, 16});
  Received();

  ui::Image* last = Place(2);
  Open(last);
  Tap(View().img_right, {25, 270});
  Swipe(-100);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(View().img_mid->Bitmap(), Thumb(2)->Bitmap());
  EXPECT_FALSE(View().anime_img->Running());
}

TEST_F(BoardView, ASecondPageChangeDuringTheSlideShowsAtOnce) {
  OpenWindow(3);
  ui::Image* page = Place(0);
  Open(page);
  ui::FloatAnimation* slide = View().anime_img;
  Tap(View().img_right, {25, 270});
  ASSERT_TRUE(slide->Running());
  EXPECT_EQ(View().img_mid->X(), 480);  // the new page starts beside the clip box
  EXPECT_EQ(View().img_mid->Bitmap(), Thumb(1)->Bitmap());
  EXPECT_EQ(View().img_bottom->Bitmap(), Thumb(0)->Bitmap());
  slide->ProcessAt(0.25);
  const float halfway = View().img_mid->X();
  EXPECT_NEAR(halfway, 240, 1);
  View().img_right_click(View().img_right);
  EXPECT_EQ(View().img_mid->Bitmap(), Thumb(2)->Bitmap());
  EXPECT_EQ(View().img_mid->X(), halfway);  // the running slide goes on
  slide->ProcessAt(0.5);
  EXPECT_FALSE(slide->Running());
  EXPECT_FALSE(slide->Enabled());
  EXPECT_EQ(View().img_mid->X(), 0);
  EXPECT_EQ(View().img_bottom->Bitmap(), Thumb(2)->Bitmap());
  const auto sent = Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(IsImage(sent[0], "right", -1, -1, -1, -1));
  EXPECT_TRUE(IsImage(sent[1], "right", -1, -1, -1, -1));
}

TEST_F(BoardView, ToSmallImageClosesWithoutAMessageFromAnyThread) {
  OpenWindow(2);
  View().ToSmallImage();  // nothing opened yet
  EXPECT_FALSE(View().pb_show->Visible());
  ui::Image* page = Place(0);
  Open(page);
  View().flg_shrink = true;
  std::thread receive([&] { View().ToSmallImage(); });
  receive.join();
  ASSERT_TRUE(PumpUntil([&] { return !View().pb_show->Visible(); }));
  EXPECT_TRUE(page->Visible());
  EXPECT_TRUE(View().flg_shrink);  // the caller's to clear
  EXPECT_TRUE(Received().empty());
}

// A clear that takes the page away while the user drags it: the rest of the gesture reaches
// nothing, so the board hears of no page that is gone. The first drag of a page is uncaptured
// (the pointer hovers it), a later one captured.
TEST_F(BoardView, APageClearedMidDragGetsNoMoreMoves) {
  const auto reset_from_board = [this] {
    ASSERT_TRUE(board_->SendFrame("1_reset"));
    ASSERT_TRUE(PumpUntil([&] { return View().img_bg->ChildrenCount() == 2; }));
  };
  struct Case {
    const char* what;
    bool captured;
    std::function<void()> clear;
  };
  const Case cases[] = {
      {"1_reset from the board, hovered", false, reset_from_board},
      {"1_reset from the board, captured", true, reset_from_board},
      {"clear button, captured", true, [this] { form_->timer_clearTimer(nullptr); }},
      {"import's clear, hovered", false, [this] { form_->DeleteAllImage(); }},
  };
  OpenWindow(static_cast<int>(std::size(cases)));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    ui::Image* page = Place(static_cast<int>(i));
    if (c.captured) {
      DragPage(page, {5, 0}, 2);
      Release(last_);
    }
    Received();
    DragPage(page, {0, 5}, 3);
    ASSERT_EQ(form_->Captured() == page, c.captured);
    EXPECT_EQ(Count(Received(), "move"), 3);
    c.clear();
    ASSERT_EQ(page->ParentControl(), nullptr);
    Received();  // the "clear", where the board was sent one
    for (int step = 1; step <= 3; ++step) Move(last_ + QPointF(0, 5.0 * step));
    Release(last_ + QPointF(0, 15));
    Leave();
    const auto sent = Received();
    EXPECT_EQ(Count(sent, "move"), 0);
    EXPECT_EQ(Count(sent, "delete"), 0);
    EXPECT_EQ(Count(sent, "enlarge"), 0);
    EXPECT_FALSE(View().img_select->Visible());
  }
  // The gesture went with its page: the pointer passing over a page placed afterwards, no
  // button pressed, drags nothing.
  ui::Image* page = Place(0);
  const QPointF p = At(page, {50, 50});
  Move(p);
  Move(p + QPointF(10, 10));
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(page->Position(), QPointF(403.5, 20));
}

TEST_F(BoardView, FailedSendsLeaveAConsistentView) {
  OpenWindow(2, false);  // no board: every send fails and shows its error
  ClickThumb(0);
  ui::Image* page = qobject_cast<ui::Image*>(View().img_bg->Child(3));
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(Thumb(0)->Enabled());

  Tap(page, {50, 50});  // opened, then "enlarge" fails
  EXPECT_TRUE(View().pb_show->Visible());
  const auto errors = dialogs_.size();
  Tap(View().img_mid, {200, 100});  // "shrink" fails: the view stays and the flag is taken back
  EXPECT_GT(dialogs_.size(), errors);
  EXPECT_TRUE(View().pb_show->Visible());
  EXPECT_FALSE(View().flg_shrink);

  View().ToSmallImage();
  EXPECT_TRUE(page->Visible());
  DragPage(page, {0, 10}, 33);
  Release(last_);  // "delete" fails after the view forgot the page
  EXPECT_EQ(page->ParentControl(), nullptr);
  EXPECT_TRUE(Thumb(0)->Enabled());
  EXPECT_FALSE(View().pb_show->Visible());
}

}  // namespace

namespace {

using clienttest::BoardViewTest;
using clienttest::IsImage;

TEST_F(BoardViewTest, PageNumbersBeyondNinetyNineKeepTheirIdApart) {
  OpenWindow(101);
  // The 101st thumbnail lies beyond the strip's view: its handlers are called as the dispatch
  // would call them.
  ui::Image* thumb = Thumb(100);
  form_->mouse_down_img_view(thumb, ui::MouseButton::Left, {}, 40, 30);
  form_->mouse_up_img_view(thumb, ui::MouseButton::Left, {}, 40, 30);
  auto sent = Received();
  ASSERT_FALSE(sent.empty());
  EXPECT_TRUE(IsImage(sent.back(), "add", 418, 35, 101, 0));
  ui::Image* page = Placed(0);
  const QPointF p = At(page, {50, 50});
  Press(p);
  Release(p);
  View().img_left_click(View().img_left);
  EXPECT_EQ(View().img_mid->Bitmap(), Thumb(99)->Bitmap());
  sent = Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(IsImage(sent[0], "enlarge", -1, -1, 101, 0));
  EXPECT_TRUE(IsImage(sent[1], "left", -1, -1, -1, -1));
}

}  // namespace
