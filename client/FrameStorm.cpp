#include "FrameStorm.h"

#include <QPointer>
#include <QString>
#include <utility>

#include "MainForm.h"
#include "ui/Types.h"

namespace {

// One timeline exists; its interaction state lives beside the class. The buttons and the
// selected card are guarded pointers: the main window's reset destroys everything inside the
// scroll box, and nothing may act on a card or button that has gone.
bool flg_timeline = true;
QPointer<ui::Image> img_edit;
QPointer<ui::Image> img_delete;
QPointer<ui::CalloutRectangle> tmp_cr;
int click_tag = -1;
bool flg_edit = false;
ui::AlphaColor color_edit = 0;
bool flg_add_icon = true;

std::function<std::tm()> local_clock;

constexpr ui::AlphaColor kCardBlue = 0xFF54B3FC;
constexpr ui::AlphaColor kCardGreen = 0xFF44FD7C;
constexpr ui::AlphaColor kCardEditing = 0xFFFF924D;
constexpr ui::AlphaColor kBodyColor = 0xFF1B2A3A;
constexpr ui::AlphaColor kCaptionColor = 0xFF3A3A3A;

constexpr float kCardWidth = 120;
constexpr float kCardHeight = 80;
constexpr float kCardPitch = 100;
constexpr float kLineGap = 25;  // between the line and the card's pointer side
constexpr float kCaptionWidth = 100;
constexpr float kCaptionHeight = 10;
constexpr float kBodyWidth = 100;
constexpr float kBodyHeight = 65;
constexpr float kBodyMargin = 10;  // keeps the body clear of the pointer
constexpr float kButtonSize = 26;
constexpr int kButtonPictureSize = 52;
constexpr float kButtonGap = 10;
constexpr float kButtonGapBelowLine = 12;
constexpr float kButtonSpacing = 5;

// The two texts every card holds: the body first, then the caption.
ui::Text* CardText(ui::Control* card, int index) {
  return index < card->ChildrenCount() ? qobject_cast<ui::Text*>(card->Child(index)) : nullptr;
}

QString Caption(const rtl::UnicodeString& user, const rtl::UnicodeString& time) {
  return QString::fromStdU16String(user) + QStringLiteral(" // ") + QString::fromStdU16String(time);
}

void HideButtons() {
  if (img_edit) img_edit->Hide();
  if (img_delete) img_delete->Hide();
}

}  // namespace

std::tm LocalTimeNow() {
  if (local_clock) return local_clock();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

void SetLocalClock(std::function<std::tm()> clock) {
  local_clock = std::move(clock);
}

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
  img_edit = nullptr;
  img_delete = nullptr;
  tmp_cr = nullptr;
  click_tag = -1;
  flg_edit = false;
  color_edit = 0;
  flg_add_icon = true;
}

TFrameStorm::~TFrameStorm() = default;

void TFrameStorm::InitValue() {
  flg_edit = false;
  click_tag = -1;
  flg_timeline = true;
  flg_add_icon = true;
}

ui::Image* TFrameStorm::EditButton() const {
  return img_edit;
}
ui::Image* TFrameStorm::DeleteButton() const {
  return img_delete;
}
ui::CalloutRectangle* TFrameStorm::SelectedCard() const {
  return tmp_cr;
}
int TFrameStorm::ClickTag() const {
  return click_tag;
}
bool TFrameStorm::Editing() const {
  return flg_edit;
}

void TFrameStorm::AddItem(const rtl::UnicodeString& user, const rtl::UnicodeString& time,
                          const rtl::UnicodeString& text) {
  if (flg_edit) {
    flg_edit = false;
    if (tmp_cr) {
      tmp_cr->SetFillColor(color_edit);
      if (ui::Text* body = CardText(tmp_cr, 0)) body->SetText(QString::fromStdU16String(text));
      if (ui::Text* caption = CardText(tmp_cr, 1)) caption->SetText(Caption(user, time));
    }
    FormMain->CreateStormMessage(u"edit", user, time, text, click_tag);
    return;
  }

  const int n = count_idea;
  auto* card = new ui::CalloutRectangle(scroll_timeline);
  auto* caption = new ui::Text(this);
  card->OnClick = [this](QObject* sender) { click_cr(sender); };
  card->SetTag(n + 1);
  card->SetSides(cr_temp->OutlinedSides());
  card->SetSize(kCardWidth, kCardHeight);
  card->SetRadii(5, 5);
  card->SetStrokeColor(0x00000000);
  card->SetCalloutOffset(5);
  card->SetCalloutWidth(7);
  // Colours alternate in pairs: cards 1 and 2 blue, 3 and 4 green, ...
  card->SetFillColor((n / 2) % 2 == 1 ? kCardGreen : kCardBlue);

  ui::TextSettings caption_look = caption->Settings();
  caption_look.size = 7;
  caption_look.color = kCaptionColor;
  caption_look.horzAlign = ui::TextAlign::Leading;
  caption_look.wordWrap = false;
  caption->SetSettings(caption_look);
  // A long idea or name takes a smaller font rather than losing its end.
  caption->SetShrinkToFit(true);
  caption->SetText(Caption(user, time));
  caption->SetSize(kCaptionWidth, kCaptionHeight);
  caption->SetX(0);

  card->SetX(kCardPitch * static_cast<float>(n));

  auto* body = new ui::Text(this);
  if (flg_timeline) {
    // Below the line, the pointer up toward it, the caption under the card.
    card->SetY(timeline->Y() + kLineGap);
    card->SetCalloutPosition(ui::CalloutPosition::Top);
    caption->SetY(card->Height());
    body->SetMargins({0, kBodyMargin, 0, 0});
  } else {
    card->SetY(timeline->Y() - card->Height() - kLineGap);
    card->SetCalloutPosition(ui::CalloutPosition::Bottom);
    caption->SetY(-caption->Height());
    body->SetMargins({0, 0, 0, kBodyMargin});
  }
  flg_timeline = !flg_timeline;

  ui::TextSettings body_look = body->Settings();
  body_look.size = 10;
  body_look.color = kBodyColor;
  body_look.wordWrap = true;
  body->SetSettings(body_look);
  body->SetShrinkToFit(true);
  body->SetSize(kBodyWidth, kBodyHeight);
  body->SetText(QString::fromStdU16String(text));
  body->SetAlign(ui::Align::Center);
  body->SetEnabled(false);  // a click on the body belongs to the card

  body->SetParent(card);
  caption->SetParent(card);
  scroll_timeline->AddObject(card);

  scroll_timeline->ScrollBy(card->Width() * static_cast<float>(n));

  count_idea = n + 1;
  if (n == 0) FormMain->SendInfo();
  FormMain->CreateStormMessage(u"add", user, time, text, n + 1);
}

void TFrameStorm::MakeButtons() {
  // Buttons left over from before a reset that kept the cards are replaced, not doubled.
  delete img_edit.data();
  delete img_delete.data();

  img_edit = new ui::Image(this);
  img_edit->SetSize(kButtonSize, kButtonSize);
  img_edit->SetBitmap(imagelist->Bitmap(QSize(kButtonPictureSize, kButtonPictureSize), 0));
  img_edit->OnClick = [this](QObject* sender) { click_img_edit(sender); };

  img_delete = new ui::Image(this);
  img_delete->SetSize(kButtonSize, kButtonSize);
  img_delete->SetBitmap(imagelist->Bitmap(QSize(kButtonPictureSize, kButtonPictureSize), 1));
  img_delete->OnClick = [this](QObject* sender) { click_img_delete(sender); };

  scroll_timeline->AddObject(img_edit);
  scroll_timeline->AddObject(img_delete);
}

void TFrameStorm::click_cr(QObject* sender) {
  if (flg_edit) return;
  auto* card = qobject_cast<ui::CalloutRectangle*>(sender);
  if (!card) return;
  if (flg_add_icon || !img_edit || !img_delete) {
    flg_add_icon = false;
    MakeButtons();
  }

  const int tag = static_cast<int>(card->Tag());
  if (tag == click_tag) {
    HideButtons();
    click_tag = -1;
  } else {
    click_tag = tag;
    img_edit->Show();
    img_delete->Show();
  }

  img_edit->BringToFront();
  img_delete->BringToFront();
  tmp_cr = card;

  const float x = card->X() + card->Width() + kButtonGap;
  const float y = card->Y() + (tag % 2 != 0 ? kButtonGapBelowLine : 0);
  img_edit->SetPosition(x, y);
  img_delete->SetPosition(x, img_edit->Y() + kButtonSpacing + img_edit->Height());
}

void TFrameStorm::click_img_edit(QObject*) {
  HideButtons();
  if (!tmp_cr) return;
  const ui::Text* body = CardText(tmp_cr, 0);
  FormMain->memo_txt->SetText(body ? body->GetText() : QString());
  color_edit = tmp_cr->FillColor();
  tmp_cr->SetFillColor(kCardEditing);
  flg_edit = true;
}

void TFrameStorm::click_img_delete(QObject*) {
  HideButtons();
  if (!tmp_cr) return;
  ui::CalloutRectangle* card = tmp_cr;
  // Detached, not destroyed: the scroll box still owns it.
  card->SetParent(nullptr);
  card->SetHitTest(false);
  FormMain->CreateStormMessage(u"delete", u"", u"", u"", static_cast<std::int32_t>(card->Tag()));
}

void TFrameStorm::timer_sync_on(QObject*) {
  const std::tm now = LocalTimeNow();
  txt_time->SetText(QString::asprintf("%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec));
}
