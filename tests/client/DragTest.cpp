// Dragging strip pages onto the board grid, through the form's dispatch, with the board on the
// wire.

#include <gtest/gtest.h>

#include <QPointF>
#include <vector>

#include "BoardViewFixture.h"

namespace {

using clienttest::BoardViewTest;
using clienttest::IsImage;
using clienttest::Sent;

class Drag : public BoardViewTest {
 protected:
  // Press a thumbnail and move into its top band: the ghost shows.
  void StartDrag(int position) {
    Press(At(Thumb(position), {40, 30}));
    Move(At(Thumb(position), {40, 5}));
  }
  QPointF Overlay(float x, float y) const { return At(form_->paintbox_move, {x, y}); }
  ui::Control* Ghost() const {
    return form_->paintbox_shade->ChildrenCount() == 3 ? form_->paintbox_shade->Child(1) : nullptr;
  }
  QPointF Marker() const { return form_->img_shade_grid->Position(); }
  static std::vector<Sent> Images(const std::vector<Sent>& all) {
    std::vector<Sent> out;
    for (const Sent& s : all)
      if (s.kind == 1) out.push_back(s);
    return out;
  }
};

TEST_F(Drag, AClickPlacesThePageInColumnThreeOfRowZeroOnce) {
  OpenWindow(3);
  ClickThumb(1);
  const auto sent = Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].kind, 4);  // the first page after start tells the board who the PC is
  EXPECT_TRUE(IsImage(sent[1], "add", 418, 35, 2, 0));
  EXPECT_FALSE(Thumb(1)->Enabled());
  EXPECT_EQ(Marker(), QPointF(417, 35));
  ui::Image* page = Placed(0);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Position(), QPointF(403.5, 20));
  EXPECT_EQ(page->Tag(), 2);
  EXPECT_EQ(form_->count_image, 1);
  ASSERT_EQ(View().list_img_show.size(), 1u);
  EXPECT_EQ(View().list_img_show[0], Thumb(1));

  // A disabled thumbnail takes no press: the page is not placed again.
  ClickThumb(1);
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(form_->count_image, 1);
  EXPECT_FALSE(form_->paintbox_shade->Visible());
}

TEST_F(Drag, MovesBelowTheTopBandKeepAClickUpToOneMove) {
  struct Case {
    int moves;
    bool placed;
  };
  for (const Case c : {Case{0, true}, Case{1, true}, Case{2, false}}) {
    SCOPED_TRACE(c.moves);
    OpenWindow(1);
    const QPointF low = At(Thumb(0), {40, 30});
    Press(low);
    for (int i = 0; i < c.moves; ++i) Move(low);
    Release(low);
    const auto images = Images(Received());
    EXPECT_EQ(images.size(), c.placed ? 1u : 0u);
    if (c.placed && !images.empty()) {
      EXPECT_TRUE(IsImage(images[0], "add", 418, 35, 1, 0));
    }
    EXPECT_EQ(Thumb(0)->Enabled(), !c.placed);
    EXPECT_FALSE(form_->paintbox_shade->Visible());
    form_.reset();
  }
}

TEST_F(Drag, TheMarkerTakesTheCellUnderTheGhostsCorner) {
  struct Case {
    int gx, gy;
    float cell_x, cell_y;
  };
  const Case cases[] = {
      {129, 76, 27, 35},    {130, 77, 157, 110}, {400, 304, 417, 260}, {400, 305, 417, 335},
      {400, 500, 417, 335}, {909, 0, 807, 35},   {910, 0, 807, 35},    {-30, 0, 27, 35},
      {0, 152, 27, 110},    {0, 153, 27, 185},
  };
  OpenWindow(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.gx << ", " << c.gy);
    StartDrag(0);
    ASSERT_TRUE(form_->paintbox_shade->Visible());
    ASSERT_NE(Ghost(), nullptr);
    // The pointer holds the ghost (80 x 45) at its centre.
    Move(Overlay(static_cast<float>(c.gx + 40), static_cast<float>(c.gy + 22)));
    EXPECT_EQ(Ghost()->Position(), QPointF(c.gx, c.gy));
    EXPECT_EQ(Marker(), QPointF(c.cell_x, c.cell_y));
    Release(Overlay(500, 500));  // over the bottom bar: cancelled
    EXPECT_FALSE(form_->paintbox_shade->Visible());
  }
  // Moves of the ghost send nothing; all drags were cancelled.
  EXPECT_TRUE(Received().empty());
  EXPECT_TRUE(Thumb(0)->Enabled());
  EXPECT_EQ(form_->paintbox_shade->ChildrenCount(), 2);  // the ghosts are gone
}

TEST_F(Drag, TheGhostStartsAtTheCursorInDesignUnits) {
  struct Case {
    QSize screen;
    double dpi;
    QPoint cursor;  // screen pixels
    float x, y;     // the ghost's corner
    QPointF marker;
  };
  const Case cases[] = {
      {{960, 540}, 1.0, {500, 300}, 460, 278, {417, 260}},
      {{1920, 1080}, 1.0, {1000, 600}, 460, 278, {417, 260}},
      {{1920, 1080}, 1.5, {1000, 600}, 460, 278, {417, 260}},
      // 1920 x 1200: 2.2222223 pixels per unit down, height_un 27
      {{1920, 1200}, 1.0, {1000, 666}, 460, 304.7f, {417, 260}},
      {{1920, 1200}, 1.0, {1000, 0}, 460, 5.0f, {417, 35}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.screen.width() << "x" << c.screen.height() << " @" << c.dpi);
    OpenWindow(1, false, c.screen, c.dpi);
    metrics_->SetCursorPos(c.cursor);
    StartDrag(0);
    ASSERT_NE(Ghost(), nullptr);
    EXPECT_NEAR(Ghost()->X(), c.x, 1e-3);
    EXPECT_NEAR(Ghost()->Y(), c.y, 1e-3);
    EXPECT_EQ(Ghost()->Width(), 80);
    EXPECT_EQ(Ghost()->Height(), 45);
    EXPECT_FLOAT_EQ(Ghost()->Opacity(), 0.5f);
    EXPECT_EQ(Marker(), c.marker);
    // The overlay lies over everything in the panel, its mouse surface over the ghost.
    EXPECT_EQ(form_->paintbox_shade->Index(), form_->Panel1->ChildrenCount() - 1);
    EXPECT_EQ(form_->paintbox_move->Index(), 2);
    Release(Overlay(500, 500));
    form_.reset();
  }
}

TEST_F(Drag, ReleaseAndLeaveDropAboveTheBottomBar) {
  struct Case {
    bool leave;
    float y;  // the release's y, or the last move's before the leave
    bool dropped;
  };
  const Case cases[] = {
      {false, 440.0f, true},
      {false, 440.5f, false},
      {true, 440.9f, true},
      {true, 441.0f, false},
  };
  OpenWindow(4);
  int placed = 0;
  for (int i = 0; i < 4; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(testing::Message() << (c.leave ? "leave " : "release ") << c.y);
    StartDrag(i);
    Move(Overlay(300, c.y));
    if (c.leave)
      Leave();
    else
      Release(Overlay(300, c.y));
    EXPECT_FALSE(form_->paintbox_shade->Visible());
    EXPECT_EQ(form_->paintbox_shade->ChildrenCount(), 2);
    EXPECT_EQ(Thumb(i)->Enabled(), !c.dropped);
    const auto images = Images(Received());
    if (c.dropped) {
      // ghost at (260, y - 22): row 4 of the grid, column 2
      ASSERT_EQ(images.size(), 1u);
      EXPECT_TRUE(IsImage(images[0], "add", 288, 335, i + 1, placed));
      EXPECT_EQ(Placed(placed)->Position(), QPointF(273.5, 320));
      ++placed;
    } else {
      EXPECT_TRUE(images.empty());
    }
    EXPECT_EQ(form_->count_image, placed);
  }
}

TEST_F(Drag, ACancelledDragCanBeDraggedAgainAndALeaveUsesTheLastMove) {
  OpenWindow(1);
  StartDrag(0);
  Move(Overlay(300, 500));
  Release(Overlay(300, 500));  // cancelled; y_bef is 500
  // A leave before any move over the overlay (the dispatch raises leaves only for a control
  // that a move reached, so it is raised here as the window would).
  StartDrag(0);
  form_->paintbox_moveMouseLeave(form_->paintbox_move);  // the last move (500) counts: cancelled
  EXPECT_TRUE(Received().empty());
  EXPECT_TRUE(Thumb(0)->Enabled());

  StartDrag(0);
  Move(Overlay(100, 100));
  Release(Overlay(100, 500));  // the release's y cancels
  StartDrag(0);
  form_->paintbox_moveMouseLeave(form_->paintbox_move);  // last move at 100: a drop
  const auto images = Images(Received());
  ASSERT_EQ(images.size(), 1u);
  EXPECT_TRUE(IsImage(images[0], "add", 28, 35, 1, 0));
  EXPECT_FALSE(Thumb(0)->Enabled());
}

TEST_F(Drag, ADropWhoseSendFailsEndsTheDragAndPlacesThePageOnce) {
  OpenWindow(2, false);  // no board: every send fails
  StartDrag(0);
  Move(Overlay(300, 100));
  Release(Overlay(300, 100));
  ASSERT_EQ(dialogs_.size(), 1u);  // the error is shown
  EXPECT_EQ(form_->count_image, 1);
  EXPECT_FALSE(Thumb(0)->Enabled());
  EXPECT_FALSE(form_->paintbox_shade->Visible());
  // The next release over the board area drops nothing more.
  Release(Overlay(300, 100));
  form_->paintbox_moveMouseUp(form_->paintbox_move, ui::MouseButton::Left, {}, 300, 100);
  EXPECT_EQ(form_->count_image, 1);

  // A click whose send fails: placed once, the thumbnail disabled, the press over.
  ClickThumb(1);
  EXPECT_EQ(dialogs_.size(), 2u);
  EXPECT_EQ(form_->count_image, 2);
  EXPECT_FALSE(Thumb(1)->Enabled());
}

TEST_F(Drag, AStripRebuiltDuringADragDropsNothing) {
  OpenWindow(2);
  StartDrag(1);
  Move(Overlay(300, 100));
  form_->SetLayoutValue();  // the dragged thumbnail is destroyed
  Release(Overlay(300, 100));
  EXPECT_FALSE(form_->paintbox_shade->Visible());
  EXPECT_TRUE(dialogs_.empty());
  EXPECT_TRUE(Received().empty());
  EXPECT_EQ(form_->count_image, 0);
}

}  // namespace
