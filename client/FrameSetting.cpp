#include "FrameSetting.h"

#include <QPointer>
#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "FrameManager.h"
#include "FrameStorm.h"
#include "Helpers.h"
#include "MainForm.h"
#include "TcpThread.h"
#include "os/Process.h"
#include "rtl/Files.h"
#include "ui/Types.h"

namespace {
// One settings overlay exists; its state lives beside the class. The highlighted row's parts
// are guarded: rebuilding the list destroys them.
QPointer<ui::Rectangle> rect_before;
QPointer<ui::Text> t1_before;
QPointer<ui::Text> t2_before;
bool flg_load = false;
bool flg_change = false;
int id_use = 0;

constexpr ui::AlphaColor kRowFill = 0xFFE5E5E5;
constexpr ui::AlphaColor kRowText = 0xFF666666;
constexpr ui::AlphaColor kRowSelectedFill = 0xFF1C9DFF;
constexpr ui::AlphaColor kRowSelectedText = 0xFFFFFFFF;
constexpr float kRowHeight = 50;
constexpr float kRowTextMargin = 100;
constexpr float kRowIconHeight = 24;
constexpr float kRowTextGapBeforeIcon = 8;
constexpr int kIconPictureSize = 48;
constexpr int kIconNotLinked = 0;
constexpr int kIconLinked = 1;
constexpr std::size_t kAddressPrefixLength = 5;  // "IP : "

constexpr float kImportItemSize = 80;

// Paths of the import, relative to the working directory.
constexpr char16_t kOutFolder[] = u"./out";
constexpr char kOutFolderName[] = "out";
constexpr char kStatusFile[] = "toimg/pdf_temp";
constexpr char kConverter[] = "./toimg/Slidepress";

constexpr std::string_view kDeleteBody = R"({"1":"all"})";

std::filesystem::path ToPath(const std::u16string& text) {
  return std::filesystem::path(rtl::UnicodeToUtf8(text));
}

void MakeOutFolder() {
  std::error_code ignored;
  if (!std::filesystem::is_directory(kOutFolderName, ignored))
    std::filesystem::create_directory(kOutFolderName, ignored);
}

// The file server's URL for one request of this PC.
std::u16string FileServerUrl(const rtl::AnsiString& host, std::string_view request,
                             const rtl::AnsiString& device_id, std::string_view suffix) {
  const rtl::AnsiString url = "http://" + host + ":3391/fileServer/" + std::string(request) + "_" +
                              std::to_string(TcpThread::kSendToId) + "_" + device_id +
                              std::string(suffix);
  return rtl::AnsiToUnicode(url);
}

// Starts the converter without waiting for it; a thread of its own waits, so the process is
// reaped when it ends. Its output is not read.
void StartConverter(std::vector<std::string> argv) {
  std::thread([argv = std::move(argv)] {
    os::RunOptions options;
    options.quiet = true;
    os::Run(argv, options);
  }).detach();
}
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

  http_sendfile.SetAllowCookies(true);
  http_sendfile.SetAccept("text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  http_sendfile.SetUserAgent("Mozilla/3.0 (compatible; Indy Library)");
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

bool TFrameSetting::ImportLoaded() const {
  return flg_load;
}
bool TFrameSetting::AddressTyped() const {
  return flg_change;
}
int TFrameSetting::UsedIndex() const {
  return id_use;
}

// ---------------------------------------------------------------- board list and connect

void TFrameSetting::layout_list_click(QObject*) {
  img_connect->SetEnabled(false);
  txt_name->SetText(QStringLiteral("Connection"));
  ShowPage(Page::Connection);
  list_device->Clear();
  for (const ServerInfo& entry : FormMain->server_list.Entries())
    CreateListItem(ToQString(entry.name), ToQString(entry.ip), entry.flg_connect);
}

void TFrameSetting::CreateListItem(const QString& name, const QString& ip, bool connected) {
  auto* item = new ui::ListBoxItem(list_device);
  item->SetSize(list_device->Width(), kRowHeight);
  item->SetHitTest(false);

  auto* background = new ui::Rectangle(item);
  background->SetParent(item);
  background->SetBounds(0, 0, item->Width() - 5, kRowHeight);
  background->SetFillColor(kRowFill);
  background->SetStrokeColor(kRowFill);
  background->SetHitTest(false);

  // The icon shows kRowIconHeight square in the middle of the row's right half; a long name or
  // address is cut short with an ellipsis before it (the texts stay whole for the row click).
  const float icon_left =
      list_device->Width() / 2 + (item->Width() - list_device->Width() / 2 - kRowIconHeight) / 2;
  const float text_right = item->Width() - icon_left + kRowTextGapBeforeIcon;
  const auto make_text = [item, text_right](const QString& text, float size, float top,
                                            float bottom) {
    auto* label = new ui::Text(item);
    label->SetParent(item);
    ui::TextSettings settings = label->Settings();
    settings.size = size;
    settings.color = kRowText;
    settings.horzAlign = ui::TextAlign::Leading;
    label->SetSettings(settings);
    label->SetText(text);
    label->SetElided(true);
    label->SetHeight(size + 6);
    label->SetMargins({kRowTextMargin, top, text_right, bottom});
    label->SetAlign(ui::Align::VertCenter);
    label->SetHitTest(false);
  };
  make_text(name, 15, 0, 20);
  make_text(QStringLiteral("IP : ") + ip, 10, 20, 0);

  auto* icon = new ui::Image(item);
  icon->SetParent(item);
  icon->SetHeight(kRowIconHeight);
  icon->SetMargins({list_device->Width() / 2, 0, 0, 0});
  icon->SetAlign(ui::Align::VertCenter);
  icon->SetBitmap(list_icon->Bitmap(QSize(kIconPictureSize, kIconPictureSize),
                                    connected ? kIconLinked : kIconNotLinked));
  icon->SetHitTest(false);

  list_device->AddItem(item);
}

void TFrameSetting::list_deviceItemClick(QObject*, ui::ListBoxItem* item) {
  // Child 0 is the item's style object; a row's parts follow it.
  if (!item || item->ChildrenCount() < 4) return;
  auto* background = qobject_cast<ui::Rectangle*>(item->Child(1));
  auto* name = qobject_cast<ui::Text*>(item->Child(2));
  auto* address = qobject_cast<ui::Text*>(item->Child(3));
  if (!background || !name || !address) return;

  id_use = list_device->ItemIndex();
  if (rect_before) rect_before->SetFillColor(kRowFill);
  if (t1_before) t1_before->SetFontColor(kRowText);
  if (t2_before) t2_before->SetFontColor(kRowText);
  rect_before = background;
  t1_before = name;
  t2_before = address;
  background->SetFillColor(kRowSelectedFill);
  name->SetFontColor(kRowSelectedText);
  address->SetFontColor(kRowSelectedText);

  edit_name->SetText(name->GetText());
  const rtl::AnsiString text = ToAnsi(address->GetText());
  edit_ip->SetText(ToQString(text.substr(std::min(kAddressPrefixLength, text.size()))));
  img_connect->SetEnabled(true);
}

void TFrameSetting::edit_ipKeyDown(QObject*, quint16&, QChar&, ui::ShiftState) {
  // Runs before the key changes the text: the first character typed leaves connect disabled.
  flg_change = true;
  img_connect->SetEnabled(!edit_ip->GetText().isEmpty());
}

void TFrameSetting::connect_btnClick(QObject*) {
  img_connect->SetEnabled(false);
  timer_connect->SetEnabled(true);
}

void TFrameSetting::timer_connectTimer(QObject*) {
  timer_connect->SetEnabled(false);
  FormMain->timer_find->SetEnabled(false);  // no automatic connect after this one
  FormMain->server_list.ClearConnected();
  if (flg_change) {
    // A full table takes no further board (-1): the connect still goes ahead.
    id_use = FormMain->server_list.Append(
        {ToAnsi(edit_ip->GetText()), ToAnsi(edit_name->GetText()), false});
  }
  FormMain->InitValue();
  flg_load = false;
  flg_change = false;
  layout_exp->SetHitTest(false);
  layout_exp->SetEnabled(false);
  FormMain->FrameStorm->InitValue();
  FormMain->FrameManager->InitValue();
  FormMain->img_sw_storm_click(nullptr);
  layout_general_click(nullptr);
  FormMain->CloseSetting();
  FormMain->ClearValue();
  list_img->Clear();

  const rtl::AnsiString host = ToAnsi(edit_ip->GetText());
  if (FormMain->tcp_thread->tcp_connect(host)) {
    FormMain->txt_name->SetText(edit_name->GetText());
    FormMain->txt_ip->SetText(edit_ip->GetText());
    ip_server = host;
    layout_exp->SetHitTest(true);
    layout_exp->SetEnabled(true);
    FormMain->server_list.MarkConnected(id_use);
    FormMain->ReLoadView();
  }
  edit_name->SetText(QString());
  edit_ip->SetText(QString());
}

// ---------------------------------------------------------------- document import

void TFrameSetting::layout_exp_click(QObject*) {
  if (flg_load) AddItemIntoPdfScroll();
  txt_name->SetText(QStringLiteral("Import PPT"));
  ShowPage(Page::Import);
}

void TFrameSetting::AddItemIntoPdfScroll() {
  list_img->Clear();
  MakeOutFolder();
  for (const std::u16string& file : rtl::ListFiles(kOutFolder)) {
    if (!IsPageImage(file)) continue;
    auto* item = new ui::ListBoxItem(list_img);
    item->SetSize(kImportItemSize, kImportItemSize);
    auto* picture = new ui::Image(this);
    picture->SetParent(item);
    picture->SetAlign(ui::Align::Client);
    picture->LoadFromFile(QString::fromStdU16String(file));
    list_img->AddItem(item);
  }
}

void TFrameSetting::add_picClick(QObject*) {
  openfile->Execute();  // openfileClose follows every closing of the dialog
}

void TFrameSetting::openfileClose(QObject*) {
  const QString chosen = openfile->FileName();
  // The next dialog starts without a name, whatever happens below.
  openfile->SetFileName(QString());
  if (ToAnsi(chosen).size() < 2) return;

  FormMain->count_image = 0;
  anime_load->Show();
  anime_load->Start();
  txt_status->SetText(QStringLiteral("PPT is uploading ..."));
  std::error_code ignored;
  std::filesystem::remove(kStatusFile, ignored);
  MakeOutFolder();
  for (const std::u16string& file : rtl::ListFiles(kOutFolder))
    std::filesystem::remove(ToPath(file), ignored);

  // Each path is one argument of its own, whole and unquoted, whatever its length or the
  // characters it holds; the document path keeps its own characters rather than the ANSI
  // code page's approximation of them.
  std::filesystem::path out = std::filesystem::current_path(ignored);
  out /= kOutFolderName;
  std::vector<std::string> argv = {kConverter, rtl::UnicodeToUtf8(chosen.toStdU16String()),
                                   out.string()};
  list_img->Clear();
  FormMain->DeleteAllImage();
  StartConverter(std::move(argv));
  timer_findfile->SetEnabled(true);
}

void TFrameSetting::timer_findfileTimer(QObject*) {
  std::error_code ignored;
  if (!std::filesystem::exists(kStatusFile, ignored)) return;
  flg_load = true;
  timer_findfile->SetEnabled(false);
  http_sendfile.Post(FileServerUrl(ip_server, "delFile", FormMain->device_id, ""), kDeleteBody);
  FormMain->img_path = "./out";
  FormMain->clear_manager(nullptr);  // its tick follows this handler: "clear" after the upload
  FormMain->SetLayoutValue();
  AddItemIntoPdfScroll();
  file_upload();
}

void TFrameSetting::file_upload() {
  net::MultipartForm form;
  for (const std::u16string& file : rtl::ListFiles(rtl::AnsiToUnicode(FormMain->img_path)))
    if (IsPageImage(file)) form.AddFile("picture", ToPath(file));
  http_sendfile.PostMultipart(
      FileServerUrl(ip_server, "uploadFile", FormMain->device_id, "_images"), form);
  anime_load->Hide();
  anime_load->Stop();
  txt_status->SetText(QStringLiteral("PPT upload finish"));
  form.Clear();
  FormMain->CreateCommandMessage(u"uploadfinish");
}
