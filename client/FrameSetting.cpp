#include "FrameSetting.h"

#include "MainForm.h"

namespace {
// One settings overlay exists; its state lives beside the class.
ui::Rectangle* rect_before = nullptr;
ui::Text* t1_before = nullptr;
ui::Text* t2_before = nullptr;
bool flg_load = false;
bool flg_change = false;
int id_use = 0;
}  // namespace

TFrameSetting::TFrameSetting(QObject* owner) : ui::Frame(owner) {
  LoadDescription(QStringLiteral(":/ui/FrameSetting.json"));
  img_leftbar = Find<ui::Image>(QStringLiteral("img_leftbar"));
  Setting = Find<ui::Text>(QStringLiteral("Setting"));
  layout_general = Find<ui::Layout>(QStringLiteral("layout_general"));
  img_bg_general = Find<ui::Image>(QStringLiteral("img_bg_general"));
  img_general = Find<ui::Image>(QStringLiteral("img_general"));
  txt_general = Find<ui::Text>(QStringLiteral("txt_general"));
  layout_list = Find<ui::Layout>(QStringLiteral("layout_list"));
  img_bg_list = Find<ui::Image>(QStringLiteral("img_bg_list"));
  img_list = Find<ui::Image>(QStringLiteral("img_list"));
  txt_list = Find<ui::Text>(QStringLiteral("txt_list"));
  layout_exp = Find<ui::Layout>(QStringLiteral("layout_exp"));
  img_bg_exp = Find<ui::Image>(QStringLiteral("img_bg_exp"));
  img_exp = Find<ui::Image>(QStringLiteral("img_exp"));
  txt_exp = Find<ui::Text>(QStringLiteral("txt_exp"));
  img_bg = Find<ui::Image>(QStringLiteral("img_bg"));
  img_close = Find<ui::Image>(QStringLiteral("img_close"));
  txt_name = Find<ui::Text>(QStringLiteral("txt_name"));
  layout_gen_view = Find<ui::Layout>(QStringLiteral("layout_gen_view"));
  img_finish = Find<ui::Image>(QStringLiteral("img_finish"));
  txt_finish_info = Find<ui::Text>(QStringLiteral("txt_finish_info"));
  layout_list_view = Find<ui::Layout>(QStringLiteral("layout_list_view"));
  list_device = Find<ui::ListBox>(QStringLiteral("list_device"));
  edit_name = Find<ui::Edit>(QStringLiteral("edit_name"));
  edit_ip = Find<ui::Edit>(QStringLiteral("edit_ip"));
  img_connect = Find<ui::Image>(QStringLiteral("img_connect"));
  layout_exp_view = Find<ui::Layout>(QStringLiteral("layout_exp_view"));
  list_img = Find<ui::ListBox>(QStringLiteral("list_img"));
  img_add = Find<ui::Image>(QStringLiteral("img_add"));
  txt_status = Find<ui::Text>(QStringLiteral("txt_status"));
  anime_load = Find<ui::ActivityIndicator>(QStringLiteral("anime_load"));
  timer_connect = Find<ui::Timer>(QStringLiteral("timer_connect"));
  list_icon = Find<ui::ImageList>(QStringLiteral("list_icon"));
  openfile = Find<ui::OpenDialog>(QStringLiteral("openfile"));
  timer_findfile = Find<ui::Timer>(QStringLiteral("timer_findfile"));

  ip_server.clear();
  flg_load = false;
  flg_change = false;
  id_use = 0;
  rect_before = nullptr;
  t1_before = t2_before = nullptr;
  layout_exp->SetHitTest(false);
  layout_exp->SetEnabled(false);
}

TFrameSetting::~TFrameSetting() {
  rect_before = nullptr;
  t1_before = t2_before = nullptr;
}

void TFrameSetting::ShowPage(Page page) {
  rect_before = nullptr;
  t1_before = nullptr;
  t2_before = nullptr;
  img_bg_exp->Hide();
  img_bg_list->Hide();
  img_bg_general->Hide();
  layout_gen_view->Hide();
  layout_list_view->Hide();
  layout_exp_view->Hide();
  switch (page) {
    case Page::General:
      img_bg_general->Show();
      layout_gen_view->Show();
      break;
    case Page::Connection:
      img_bg_list->Show();
      layout_list_view->Show();
      break;
    case Page::Import:
      img_bg_exp->Show();
      layout_exp_view->Show();
      break;
  }
}

void TFrameSetting::InitView() {
  ShowPage(Page::General);
}

void TFrameSetting::layout_general_click(QObject*) {
  txt_name->SetText(QStringLiteral("General"));
  ShowPage(Page::General);
}

void TFrameSetting::img_close_click(QObject*) {
  edit_name->SetText(QString());
  edit_ip->SetText(QString());
  flg_change = false;
  FormMain->CloseSetting();
  layout_general_click(nullptr);
}

void TFrameSetting::img_finish_click(QObject*) {
  FormMain->StopProgram();
}

void TFrameSetting::layout_list_click(QObject*) {}
void TFrameSetting::layout_exp_click(QObject*) {}
void TFrameSetting::list_deviceItemClick(QObject*, ui::ListBoxItem*) {}
void TFrameSetting::edit_ipKeyDown(QObject*, quint16&, QChar&, ui::ShiftState) {}
void TFrameSetting::connect_btnClick(QObject*) {}
void TFrameSetting::timer_connectTimer(QObject*) {}
void TFrameSetting::add_picClick(QObject*) {}
void TFrameSetting::openfileClose(QObject*) {}
void TFrameSetting::timer_findfileTimer(QObject*) {}
