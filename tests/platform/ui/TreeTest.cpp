// The control tree: order, owner vs parent, detaching, destruction and alignment.

#include <gtest/gtest.h>

#include <QPointer>

#include "ui/Controls.h"
#include "ui/Form.h"

namespace {

using ui::Control;

std::vector<QString> Names(const Control* parent) {
  std::vector<QString> names;
  for (const Control* c : parent->Children()) names.push_back(c->Name());
  return names;
}

Control* Named(QObject* owner, Control* parent, const char* name) {
  auto* c = new ui::Layout(owner);
  c->SetName(QString::fromLatin1(name));
  c->SetParent(parent);
  return c;
}

TEST(UiTree, ChildrenKeepOrderAndBringToFrontMovesToTheEnd) {
  ui::Form form;
  Control* bg = Named(&form, &form, "bg");
  Named(&form, bg, "grid");
  Named(&form, bg, "select");
  Control* del = Named(&form, bg, "del");
  Named(&form, bg, "page1");
  EXPECT_EQ(Names(bg), (std::vector<QString>{"grid", "select", "del", "page1"}));
  EXPECT_EQ(bg->ChildrenCount(), 4);
  EXPECT_EQ(bg->Child(2), del);
  EXPECT_EQ(del->Index(), 2);
  EXPECT_EQ(bg->Child(4), nullptr);

  bg->Child(0)->BringToFront();
  EXPECT_EQ(Names(bg), (std::vector<QString>{"select", "del", "page1", "grid"}));
  bg->Child(3)->SendToBack();
  EXPECT_EQ(Names(bg), (std::vector<QString>{"grid", "select", "del", "page1"}));

  // Re-parenting to the same parent changes nothing; to another one appends there.
  del->SetParent(bg);
  EXPECT_EQ(del->Index(), 2);
  del->SetParent(&form);
  EXPECT_EQ(form.Children().back(), del);
  EXPECT_EQ(bg->ChildrenCount(), 3);
}

TEST(UiTree, DetachedControlLivesUntilItsOwnerDies) {
  QPointer<Control> page;
  {
    ui::Form form;
    auto* frame = new ui::Frame(&form);
    frame->SetParent(&form);
    Control* bg = Named(frame, frame, "bg");
    page = Named(frame, bg, "page");
    // The clear's pattern: detach the child at index 0 as often as there are children.
    page->SetParent(nullptr);
    EXPECT_EQ(bg->ChildrenCount(), 0);
    EXPECT_EQ(page->ParentControl(), nullptr);
    delete bg;  // destroying the old parent does not touch the detached page
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(frame->FindComponent("page"), page.data());
  }
  EXPECT_TRUE(page.isNull());
}

TEST(UiTree, DestroyingAParentDestroysItsChildrenWhoeverOwnsThem) {
  ui::Form form;
  auto* scroll = new ui::HorzScrollBox(&form);
  scroll->SetParent(&form);
  QPointer<Control> card = new ui::CalloutRectangle(scroll);  // owned by the box
  card->SetParent(scroll);
  QPointer<Control> body = new ui::Text(&form);  // owned by the form, drawn in the card
  body->SetParent(card);
  QPointer<Control> button = new ui::Image(&form);
  button->SetParent(scroll);
  ASSERT_EQ(scroll->Content()->ChildrenCount(), 2);  // children go into the content

  scroll->Content()->DeleteChildren();
  EXPECT_TRUE(card.isNull());
  EXPECT_TRUE(body.isNull());
  EXPECT_TRUE(button.isNull());
  EXPECT_EQ(scroll->Content()->ChildrenCount(), 0);
  EXPECT_EQ(form.FindComponent(QString()), nullptr);
}

TEST(UiTree, OwnerDestroysControlsDrawnElsewhereAndParentsForgetThem) {
  ui::Form form;
  Control* strip = Named(&form, &form, "strip");
  {
    ui::Frame owner(nullptr);
    Named(&owner, strip, "thumb");
    EXPECT_EQ(strip->ChildrenCount(), 1);
  }
  EXPECT_EQ(strip->ChildrenCount(), 0);
}

TEST(UiTree, PlacingAControlInsideItselfIsRefused) {
  ui::Form form;
  Control* a = Named(&form, &form, "a");
  Control* b = Named(&form, a, "b");
  EXPECT_THROW(a->SetParent(b), ui::Error);
  EXPECT_EQ(b->ParentControl(), a);
}

struct AlignCase {
  const char* name;
  ui::Align align;
  ui::Bounds margins;
  QRectF expected;  // x, y, width, height in the parent
};

class UiAlignment : public ::testing::TestWithParam<AlignCase> {};

TEST_P(UiAlignment, PlacesTheChildInItsParent) {
  const AlignCase& c = GetParam();
  ui::Form form;
  auto* parent = new ui::Layout(&form);
  parent->SetParent(&form);
  parent->SetSize(841, 89);
  auto* child = new ui::Layout(&form);
  child->SetSize(815, 45);
  child->SetMargins(c.margins);
  child->SetAlign(c.align);
  child->SetParent(parent);
  EXPECT_EQ(child->BoundsInParent(), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, UiAlignment,
    ::testing::Values(
        AlignCase{"centre with margins", ui::Align::Center, {14, 0, 12, 10}, {14, 17, 815, 45}},
        AlignCase{"client", ui::Align::Client, {1, 2, 3, 4}, {1, 2, 837, 83}},
        AlignCase{"bottom", ui::Align::Bottom, {}, {0, 44, 841, 45}},
        AlignCase{"most bottom", ui::Align::MostBottom, {}, {0, 44, 841, 45}},
        AlignCase{"top", ui::Align::Top, {}, {0, 0, 841, 45}},
        AlignCase{"left", ui::Align::Left, {}, {0, 0, 815, 89}},
        AlignCase{"horizontal centre in the left part",
                  ui::Align::HorzCenter,
                  {0, 0, 600, 0},
                  {-287, 0, 815, 89}},
        AlignCase{"vertical centre", ui::Align::VertCenter, {100, 0, 0, 20}, {100, 12, 741, 45}}),
    [](const ::testing::TestParamInfo<AlignCase>& param) {
      std::string n = param.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(UiTree, HiddenControlsTakeNoPartInDocking) {
  // Two bars docked to the bottom, only one shown at a time: both sit at the bottom.
  ui::Form form;
  auto* panel = new ui::Layout(&form);
  panel->SetParent(&form);
  panel->SetSize(960, 540);
  auto* con = new ui::Layout(&form);
  con->SetSize(960, 89);
  con->SetAlign(ui::Align::MostBottom);
  con->SetParent(panel);
  auto* storm = new ui::Layout(&form);
  storm->SetSize(960, 89);
  storm->SetVisible(false);
  storm->SetAlign(ui::Align::Bottom);
  storm->SetParent(panel);
  EXPECT_EQ(con->Y(), 451);
  con->Hide();
  storm->Show();
  EXPECT_EQ(storm->Y(), 451);
}

TEST(UiTree, ScaledChildIsCentredByItsScaledSize) {
  ui::Form form;
  form.SetClientSize(1920, 1200);
  auto* panel = new ui::Panel(&form);
  panel->SetSize(960, 540);
  panel->SetAlign(ui::Align::Center);
  panel->SetParent(&form);
  panel->SetScale(2, 2);
  EXPECT_EQ(panel->BoundsInParent(), QRectF(0, 60, 1920, 1080));
  // A point of the form maps into the panel's design units.
  EXPECT_EQ(panel->FormToLocal(QPointF(960, 600)), QPointF(480, 270));
}

TEST(UiTree, AnEmbeddedClientAlignedControlFollowsItsParentsSize) {
  ui::Form form;
  form.SetClientSize(300, 200);
  auto* bg = new ui::Image(&form);
  bg->SetAlign(ui::Align::Client);
  bg->SetParent(&form);
  EXPECT_EQ(bg->BoundsInParent(), QRectF(0, 0, 300, 200));
  form.SetClientSize(640, 360);
  EXPECT_EQ(bg->BoundsInParent(), QRectF(0, 0, 640, 360));
}

}  // namespace
