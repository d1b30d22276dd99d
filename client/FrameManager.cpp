#include "FrameManager.h"

#include <QPointer>
#include <algorithm>
#include <cstdint>

#include "MainForm.h"
#include "ui/Application.h"
#include "ui/Binding.h"

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

void TFrameManager::ForgetPageGesture() {
  if (flg_down_show && flg_move) img_select->Hide();
  flg_down_show = false;
  flg_move = false;
}

namespace {

// A placed page is 155 x 100 around its 125 x 70 picture; it lies 13.5 left of and 15 above
// its grid cell, and the board hears of the picture's corner.
constexpr float kPageWidth = 155;
constexpr float kPageHeight = 100;
constexpr float kInnerWidth = 125;
constexpr float kInnerHeight = 70;
constexpr float kCellToPageX = 13.5f;
constexpr float kCellToPageY = 15.0f;
constexpr float kPageBorder = 15.0f;
// A page whose top passes these is deleted at the release or the leave.
constexpr float kDeleteTopAtRelease = 340.0f;
constexpr float kDeleteTopAtLeave = 350.0f;
// A swipe on the enlarged page longer than this changes the page.
constexpr float kSwipe = 60.0f;
constexpr float kSlideFrom = 480.0f;

// The page number is also kept on the inner picture, so a strip of 100 pages or more does not
// mix it into the id: Tag / 100 and Tag % 100 hold only while page numbers stay below 100.
std::int32_t PageNumber(const ui::Control* page) {
  if (page->ChildrenCount() > 0) return static_cast<std::int32_t>(page->Child(0)->Tag());
  return static_cast<std::int32_t>(page->Tag() % 100);
}
std::int32_t PageId(const ui::Control* page) {
  return static_cast<std::int32_t>((page->Tag() - PageNumber(page)) / 100);
}
std::int32_t MessageX(const ui::Control* page) {
  return static_cast<std::int32_t>(page->X() + kPageBorder);
}
std::int32_t MessageY(const ui::Control* page) {
  return static_cast<std::int32_t>(page->Y() + kPageBorder);
}

}  // namespace

void TFrameManager::AddItem(int, int, ui::Image* thumbnail) {
  list_img_show.push_back(thumbnail);

  auto* page = new ui::Image(this);
  page->SetWidth(kPageWidth);
  page->SetHeight(kPageHeight);
  page->OnMouseDown = ui::BindHandler<QObject*, ui::MouseButton, ui::ShiftState, float, float>(
      this, QStringLiteral("mouse_down_img_show"));
  page->OnMouseMove = ui::BindHandler<QObject*, ui::ShiftState, float, float>(
      this, QStringLiteral("mouse_move_img_show"));
  page->OnMouseUp = ui::BindHandler<QObject*, ui::MouseButton, ui::ShiftState, float, float>(
      this, QStringLiteral("mouse_up_img_show"));
  page->OnMouseLeave = ui::BindHandler<QObject*>(this, QStringLiteral("mouse_leave_img_show"));
  page->SetPicture(img_shadow_tmp->GetPicture());
  page->SetAutoCapture(false);
  page->SetTag(static_cast<long long>(FormMain->count_image) * 100 + thumbnail->Tag());
  const ui::Image* marker = FormMain->img_shade_grid;
  page->SetPosition(marker->X() - kCellToPageX, marker->Y() - kCellToPageY);

  auto* inner = new ui::Image(this);
  inner->SetPicture(thumbnail->GetPicture());
  inner->SetWidth(kInnerWidth);
  inner->SetHeight(kInnerHeight);
  inner->SetAlign(ui::Align::Center);
  inner->SetHitTest(false);
  inner->SetTag(thumbnail->Tag());

  ++FormMain->count_image;
  inner->SetParent(page);
  page->SetParent(img_bg);

  // The board learns who the PC is before the first pages of an empty view.
  const int children = img_bg->ChildrenCount();
  if (children == 3 || children == 4) FormMain->SendInfo();
  FormMain->CreateMessageImage("add", MessageX(page), MessageY(page), 1, PageNumber(page),
                               PageId(page));
}

void TFrameManager::ToSmallImage() {
  if (!ui::IsUiThread()) {
    QPointer<TFrameManager> self(this);
    ui::PostToUiThread([self] {
      if (self) self->ToSmallImage();
    });
    return;
  }
  if (tmp_show) tmp_show->Show();
  pb_show->Hide();
}

// ---------------------------------------------------------------- placed pages

void TFrameManager::mouse_down_img_show(QObject* sender, ui::MouseButton, ui::ShiftState, float x,
                                        float y) {
  auto* page = qobject_cast<ui::Image*>(sender);
  if (!page) return;
  page->BringToFront();
  x_center_show = static_cast<int>(x);
  y_center_show = static_cast<int>(y);
  flg_down_show = true;
}

void TFrameManager::mouse_move_img_show(QObject* sender, ui::ShiftState, float x, float y) {
  auto* page = qobject_cast<ui::Image*>(sender);
  if (!flg_down_show || !page) return;

  // The strip's armed look follows the page's top before this move.
  img_del_panel->Show();
  img_del_panel->SetEnabled(page->Y() > kDeleteTopAtRelease);
  // Captures from the next press on: a fast drag then keeps its page.
  page->SetAutoCapture(true);
  flg_move = true;

  page->SetPosition(page->X() + (x - static_cast<float>(x_center_show)),
                    page->Y() + (y - static_cast<float>(y_center_show)));
  const int ix = static_cast<int>(page->X());
  const int iy = static_cast<int>(page->Y());

  // The nearest cell. Far above or left of the board the highlight stays on the grid, so the
  // page never snaps off the board.
  int row = static_cast<int>((iy + 38) / 76.2);
  if (row >= 5) row = 4;
  if (row < 0) row = 0;
  int column_x = 807;
  if (ix <= 844) {
    int q = (ix + 65) / 130;
    if (q < 0) q = 0;
    column_x = 130 * q + 27;
  }
  img_select->Show();
  img_select->SetPosition(static_cast<float>(column_x), static_cast<float>(75 * row + 35));

  float px = page->X();
  float py = page->Y();
  if (py > 361)
    py = 361;
  else if (py < 0)
    py = 0;
  if (px < 0)
    px = 0;
  else if (px > 800)
    px = 800;
  page->SetPosition(px, py);

  FormMain->CreateMessageImage("move", MessageX(page), MessageY(page), 1, -1, PageId(page));
}

void TFrameManager::EndPageGesture(ui::Image* page, float delete_top) {
  if (!flg_down_show || !page) return;
  img_del_panel->Hide();
  img_del_panel->SetEnabled(false);
  if (flg_move) {
    img_select->Hide();
    if (page->Y() > delete_top) {
      tmp_show = page;
      img_mid->SetTag(PageId(page));
      img_close_click(page);
    } else {
      page->SetPosition(img_select->X() - kCellToPageX, img_select->Y() - kCellToPageY);
      FormMain->CreateMessageImage("move", MessageX(page), MessageY(page), 1, -1, PageId(page));
    }
  } else {
    img_zoom->BringToFront();
    tmp_show = page;
    id_down = PageNumber(page);
    const auto* inner =
        page->ChildrenCount() > 0 ? qobject_cast<ui::Image*>(page->Child(0)) : nullptr;
    if (inner) img_mid->SetPicture(inner->GetPicture());
    img_bottom->SetPicture(img_mid->GetPicture());
    img_mid->SetTag(PageId(page));
    pb_show->Show();
    page->Hide();
    pb_show->BringToFront();
    FormMain->CreateMessageImage("enlarge", -1, -1, 1, PageNumber(page),
                                 static_cast<std::int32_t>(img_mid->Tag()));
  }
  flg_move = false;
  flg_down_show = false;
}

void TFrameManager::mouse_up_img_show(QObject* sender, ui::MouseButton, ui::ShiftState, float,
                                      float) {
  EndPageGesture(qobject_cast<ui::Image*>(sender), kDeleteTopAtRelease);
}

void TFrameManager::mouse_leave_img_show(QObject* sender) {
  EndPageGesture(qobject_cast<ui::Image*>(sender), kDeleteTopAtLeave);
}

void TFrameManager::img_close_click(QObject*) {
  flg_down_show = false;
  flg_move = false;
  flg_move_mid = false;
  if (!tmp_show) return;  // nothing was ever opened or dropped for deletion
  tmp_show->SetParent(nullptr);
  // The view forgets the page before the board hears of it: a failed send must not leave the
  // page gone while its thumbnail stays disabled.
  const auto id = static_cast<std::int32_t>(img_mid->Tag());
  if (id >= 0 && static_cast<std::size_t>(id) < list_img_show.size() && list_img_show[id])
    list_img_show[static_cast<std::size_t>(id)]->SetEnabled(true);
  pb_show->Hide();
  FormMain->CreateMessageImage("delete", -1, -1, 1, -1, id);
}

// ---------------------------------------------------------------- enlarged page

void TFrameManager::CloseEnlarged(std::int32_t id) {
  FormMain->CreateMessageImage("shrink", -1, -1, 1, -1, id);
  if (tmp_show) tmp_show->Show();
  pb_show->Hide();
}

void TFrameManager::pb_showClick(QObject*) {
  CloseEnlarged(-1);
}

void TFrameManager::img_zoom_click(QObject*) {
  CloseEnlarged(-1);
}

void TFrameManager::img_mid_down(QObject*, ui::MouseButton, ui::ShiftState, float x, float) {
  x_down = static_cast<int>(x);
  flg_move_mid = false;
}

void TFrameManager::img_mid_move(QObject*, ui::ShiftState, float, float) {
  flg_move_mid = true;
}

void TFrameManager::img_mid_up(QObject*, ui::MouseButton, ui::ShiftState, float x, float) {
  if (flg_move_mid) {
    const float d = x - static_cast<float>(x_down);
    if (d > kSwipe)
      img_left_click(img_left);
    else if (d < -kSwipe)
      img_right_click(img_right);
  } else if (tmp_show) {
    // Set before the send: the board's "tosmall" answer may arrive at once on the receive
    // thread. A failed send takes it back, or that later "tosmall" would be swallowed.
    flg_shrink = true;
    try {
      CloseEnlarged(PageId(tmp_show));
    } catch (...) {
      flg_shrink = false;
      throw;
    }
  }
  Repaint();
}

void TFrameManager::ShowStripPage() {
  const auto& pages = FormMain->bitmap_list;
  if (id_down >= 1 && static_cast<std::size_t>(id_down) <= pages.size() &&
      pages[static_cast<std::size_t>(id_down) - 1])
    img_mid->SetPicture(*pages[static_cast<std::size_t>(id_down) - 1]);
}

void TFrameManager::img_left_click(QObject*) {
  if (id_down <= 1) return;
  anime_img->SetStartValue(-kSlideFrom);
  anime_img->SetEnabled(true);
  FormMain->CreateMessageImage("left", -1, -1, 1, -1, -1);
  --id_down;
  ShowStripPage();
}

void TFrameManager::img_right_click(QObject*) {
  // ">=": a strip rebuilt shorter while the view was open has no page beyond its end either.
  if (static_cast<std::size_t>(std::max(id_down, 0)) >= FormMain->bitmap_list.size()) return;
  anime_img->SetStartValue(kSlideFrom);
  anime_img->SetEnabled(true);
  FormMain->CreateMessageImage("right", -1, -1, 1, -1, -1);
  ++id_down;
  ShowStripPage();
}

void TFrameManager::anime_imgFinish(QObject*) {
  img_bottom->SetPicture(img_mid->GetPicture());
  anime_img->SetEnabled(false);
}
