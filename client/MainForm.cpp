#include "MainForm.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <future>
#include <optional>
#include <random>
#include <string_view>
#include <thread>

#include "FrameManager.h"
#include "FrameSetting.h"
#include "FrameStorm.h"
#include "Helpers.h"
#include "NetComponents.h"
#include "TcpThread.h"
#include "net/Error.h"
#include "protocol/Beacon.h"
#include "protocol/BoardFrame.h"
#include "protocol/BoardMessages.h"
#include "rtl/Files.h"
#include "ui/Application.h"
#include "ui/Binding.h"
#include "ui/BusyWait.h"
#include "ui/Controls.h"
#include "ui/Description.h"
#include "ui/Screen.h"
#include "ui/Types.h"

TFormMain* FormMain = nullptr;

float scale_x = 0;
float scale_dpi_x = 0;
float scale_dpi_y = 0;
float height_un = 0;

rtl::AnsiString m_PCname;
rtl::AnsiString m_LocalIP;

namespace {

// The drag of a strip page onto the board grid; one window exists, so its state lives here.
QPoint pt_down;      // the cursor in screen pixels when the drag started
float x_center = 0;  // half the dragged thumbnail's size: the pointer holds the
float y_center = 0;  // ghost at its centre
// Guarded: the strip's rebuilds and clears destroy thumbnails, a drag must not touch them then.
QPointer<ui::Image> img_temp;  // the ghost of the current drag
QPointer<ui::Image> img_add;   // the thumbnail being dragged or placed
bool flg_down = false;         // a thumbnail press is armed
int count_move = 0;            // moves over thumbnails since the last press on one
int y_bef = 0;                 // the pointer's y over the overlay at its last move

// Drops release over the overlay at y <= 440; below that lies the bottom bar, which cancels.
constexpr float kDropLimitY = 440.0f;
constexpr int kDropLimitYBef = 441;
// The drag starts when the pressed pointer reaches the thumbnail's top band.
constexpr float kDragBand = 10.0f;
// A click places the page in column 3, row 0.
constexpr int kClickCellX = 417;
constexpr int kClickCellY = 35;

constexpr char kImeiFile[] = "imei";
constexpr int kDeviceIdLength = 8;

// fgets(buf, size, f) as it reads a file in text mode where lines end in CR LF: a CR LF pair
// arrives as one LF, and it counts as one character. At most size - 1 characters; stops after
// a line end. False when nothing was read.
bool ReadTextLine(char* buf, int size, std::FILE* f) {
  int n = 0;
  while (n < size - 1) {
    int c = std::fgetc(f);
    if (c == EOF) break;
    if (c == '\r') {
      const int next = std::fgetc(f);
      if (next == '\n')
        c = '\n';
      else if (next != EOF)
        std::ungetc(next, f);
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return n > 0;
}

// Slide strip: thumbnails of 80 x 45 every 90 units.
constexpr int kThumbPitch = 90;
constexpr float kThumbWidth = 80;
constexpr float kThumbHeight = 45;

// Runs fn on the UI thread for the receive thread and waits for it. The stop sequence waits for
// the receive thread on the UI thread, so the wait is given up once the run flag is off.
bool RunOnUiWhileRunning(const std::atomic<bool>& running, const std::function<void()>& fn) {
  return ui::RunOnUiThreadUnless(fn, [&running] { return !running; });
}

// The board clears take every child of the board view's background from the third on (the
// delete strip, then the placed pages); detached, not destroyed: the frame still owns them.
void DetachPlacedPages(TFrameManager& view) {
  ui::Control& background = *view.img_bg;
  for (int n = background.ChildrenCount() - 2; n > 0; --n) background.Child(2)->SetParent(nullptr);
  view.ForgetPageGesture();
}

}  // namespace

void GetPcInfo() {
  // No socket start-up call is needed here, so the lookup begins with the host name.
  char name[128];
  if (::gethostname(name, sizeof name) != 0) {
    rtl::WriteLn("receive failed");
    return;
  }
  name[sizeof name - 1] = '\0';
  m_PCname = name;

  hostent entry{};
  hostent* result = nullptr;
  int lookup_error = 0;
  std::vector<char> buffer(1024);
  int rc = 0;
  while ((rc = ::gethostbyname_r(name, &entry, buffer.data(), buffer.size(), &result,
                                 &lookup_error)) == ERANGE)
    buffer.resize(buffer.size() * 2);
  m_LocalIP.clear();
  if (rc == 0 && result && result->h_addrtype == AF_INET && result->h_addr_list[0]) {
    in_addr address{};
    std::memcpy(&address, result->h_addr_list[0], sizeof address);
    char text[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &address, text, sizeof text)) m_LocalIP = text;
  }
}

TFormMain::TFormMain(QObject* owner) : TFormMain(owner, ListenerBinding{}) {}

TFormMain::TFormMain(QObject* owner, const ListenerBinding& listener) : ui::Form(owner) {
  FormMain = this;
  RegisterNetKinds();
  if (!listener.ip.empty()) SetUdpBinding(*this, listener.ip, listener.port);
  ui::RegisterFrameClass<TFrameManager>();
  ui::RegisterFrameClass<TFrameStorm>();
  ui::RegisterFrameClass<TFrameSetting>();

  try {
    Construct();
  } catch (...) {
    // The description may already have started the listener and the receive thread: they
    // call into this window, so they end before it goes.
    flg_run = false;
    for (auto* thread : findChildren<ThreadRunComponent*>()) {
      thread->Stop();
      thread->WaitFor();
    }
    for (auto* server : findChildren<UdpServerComponent*>()) server->SetActive(false);
    SetConnectFailureDialog({});
    FormMain = nullptr;
    throw;
  }
}

void TFormMain::Construct() {
  // Reading the description starts the UDP listener and the receive thread. The receive loop
  // returns at once until flg_run is set with the own fields below, before the identity, the
  // views and tcp_thread are made; it reads no frame before then, as only tcp_thread connects.
  LoadDescription(QStringLiteral(":/ui/MainForm.json"));
  timer_find = Find<ui::Timer>(QStringLiteral("timer_find"));
  Panel1 = Find<ui::Panel>(QStringLiteral("Panel1"));
  FrameManager = Find<TFrameManager>(QStringLiteral("FrameManager"));
  FrameStorm = Find<TFrameStorm>(QStringLiteral("FrameStorm"));
  layout_con = Find<ui::Layout>(QStringLiteral("layout_con"));
  img_panel_con = Find<ui::Image>(QStringLiteral("img_panel_con"));
  scroll_view = Find<ui::HorzScrollBox>(QStringLiteral("scroll_view"));
  img_sw_con = Find<ui::Image>(QStringLiteral("img_sw_con"));
  img_set_con = Find<ui::Image>(QStringLiteral("img_set_con"));
  img_clear = Find<ui::Image>(QStringLiteral("img_clear"));
  layout_storm = Find<ui::Layout>(QStringLiteral("layout_storm"));
  img_panel_storm = Find<ui::Image>(QStringLiteral("img_panel_storm"));
  img_sw_storm = Find<ui::Image>(QStringLiteral("img_sw_storm"));
  img_set_storm = Find<ui::Image>(QStringLiteral("img_set_storm"));
  img_send = Find<ui::Image>(QStringLiteral("img_send"));
  memo_txt = Find<ui::Memo>(QStringLiteral("memo_txt"));
  edit_from = Find<ui::Edit>(QStringLiteral("edit_from"));
  paintbox_shade = Find<ui::PaintBox>(QStringLiteral("paintbox_shade"));
  img_shade_grid = Find<ui::Image>(QStringLiteral("img_shade_grid"));
  paintbox_move = Find<ui::PaintBox>(QStringLiteral("paintbox_move"));
  shade_set = Find<ui::Rectangle>(QStringLiteral("shade_set"));
  FrameSetting = Find<TFrameSetting>(QStringLiteral("FrameSetting"));
  img_connect_info = Find<ui::Image>(QStringLiteral("img_connect_info"));
  Image1 = Find<ui::Image>(QStringLiteral("Image1"));
  Image2 = Find<ui::Image>(QStringLiteral("Image2"));
  Text1 = Find<ui::Text>(QStringLiteral("Text1"));
  txt_ip = Find<ui::Text>(QStringLiteral("txt_ip"));
  txt_name = Find<ui::Text>(QStringLiteral("txt_name"));
  img_bg_top = Find<ui::Image>(QStringLiteral("img_bg_top"));
  timer_clear = Find<ui::Timer>(QStringLiteral("timer_clear"));
  udp = Find<UdpServerComponent>(QStringLiteral("udp"));
  tcp = Find<TcpClientComponent>(QStringLiteral("tcp"));
  thread_receive = Find<ThreadRunComponent>(QStringLiteral("thread_receive"));

  server_list.Clear();  // under the table's lock: the listener runs already
  device_id.clear();
  img_path.clear();
  bitmap_list.clear();
  flg_run = true;

  ReadDeviceId();
  InitValue();
  GetScreenInfo();
  img_sw_con->SetEnabled(false);
  img_clear->SetEnabled(false);
  FrameSetting->InitView();

  // A board that stops reading holds a send up to its deadline. Meanwhile the window repaints
  // and takes Escape and "Close the Program", whose Disconnect ends the wait at once; nothing
  // else runs, so nothing sends again on the waiting thread.
  tcp->SetWaitHook([] { ui::ServeWhileWaiting(); });
  ui::TakeClicksWhileWaiting(FrameSetting->img_finish);

  // The failure dialog of a connect asked for by the user; the supervisor's own reconnects
  // never show it.
  SetConnectFailureDialog([](const rtl::UnicodeString& text) {
    ui::RunOnUiThread([&text] { ui::ShowMessage(QString::fromStdU16String(text)); });
  });
  tcp_thread = std::make_unique<TcpThread>(false, tcp);
}

TFormMain::~TFormMain() {
  // The threads call into this window: end them before its parts go.
  flg_run = false;
  thread_receive->Stop();
  tcp->Disconnect();  // cuts short a frame read of the receive loop
  thread_receive->WaitFor();
  udp->SetActive(false);
  tcp_thread->Terminate();
  tcp->Disconnect();  // also cuts short a connect the supervisor may be in
  tcp_thread.reset();
  SetConnectFailureDialog({});
  bitmap_list.clear();
  if (FormMain == this) FormMain = nullptr;
}

void TFormMain::ReadDeviceId() {
  if (std::FILE* f = std::fopen(kImeiFile, "r")) {
    char buf[kDeviceIdLength + 1];
    const bool read = ReadTextLine(buf, sizeof buf, f);
    std::fclose(f);
    if (read) {
      device_id = buf;
      return;
    }
    // An empty or unreadable file holds no identity: make one as if it were missing.
  }
  std::mt19937 generator(static_cast<std::mt19937::result_type>(std::time(nullptr)));
  static constexpr char kDigits[] = "123456789";
  for (int i = 0; i < kDeviceIdLength; ++i) device_id += kDigits[generator() % 8];

  bool written = false;
  if (std::FILE* f = std::fopen(kImeiFile, "w")) {
    written = std::fputs(device_id.c_str(), f) != EOF;
    written = std::fclose(f) == 0 && written;
  }
  if (!written)
    std::fprintf(stderr, "imei: cannot write the file; the device id %s holds for this run only\n",
                 device_id.c_str());
}

void TFormMain::InitValue() {
  img_connect_info->Hide();
  flg_down = false;
  img_sw_con->SetEnabled(false);
  img_clear->SetEnabled(false);
  img_path = "./img_default";
  count_image = 0;
}

float TFormMain::GetScreenScale() {
  const QRect bounds = WindowBounds();
  const QPoint centre(bounds.left() + bounds.width() / 2, bounds.top() + bounds.height() / 2);
  return static_cast<float>(ui::Screen()->DpiScale(centre));
}

void TFormMain::GetScreenInfo() {
  scale_x = GetScreenScale();
  const QSize screen = ui::Screen()->PrimaryScreenSize();
  screen_width = screen.width();
  screen_height = screen.height();
  const double width_ratio = screen_width / 960.0;
  scale_dpi_x = static_cast<float>(width_ratio);
  scale_dpi_y = static_cast<float>(screen_height / 540.0);
  scale_x = static_cast<float>(scale_x / width_ratio);
  img_bg_top->SetWidth(static_cast<float>(screen_width));
  img_bg_top->SetHeight(static_cast<float>(screen_height));
  Panel1->SetScale(1.0f / scale_x, 1.0f / scale_x);
  Panel1->BringToFront();
  const float a = Panel1->ScaleY() * -540.0f;
  const float b = GetScreenScale() * a;
  const float c = b + static_cast<float>(screen_height);
  const float d = c / scale_dpi_y;
  height_un = d * 0.5f;
}

void TFormMain::FormActivate(QObject*) {
  SetFullScreen(true);
}

void TFormMain::FormKeyDown(QObject*, quint16& key, QChar&, ui::ShiftState) {
  if (key == ui::vk::Escape) StopProgram();
}

void TFormMain::StopProgram() {
  flg_run = false;
  thread_receive->Stop();  // tells the thread to end, does not wait
  tcp->Disconnect();
  Close();
}

void TFormMain::img_sw_con_click(QObject*) {
  layout_con->Hide();
  layout_storm->Show();
  FrameStorm->Show();
  FrameManager->Hide();
  Repaint();
}

void TFormMain::img_sw_storm_click(QObject*) {
  layout_con->Show();
  layout_storm->Hide();
  FrameStorm->Hide();
  FrameManager->Show();
}

void TFormMain::img_set_click(QObject*) {
  shade_set->Show();
  Repaint();
}

void TFormMain::CloseSetting() {
  shade_set->Hide();
  Repaint();
}

void TFormMain::thread_receiveRun(QObject*) {
  using namespace std::chrono_literals;
  if (!flg_run) {
    // Called again at once until the window has set the flag: keep the wait from spinning.
    std::this_thread::sleep_for(1ms);
    return;
  }
  do {
    try {
      if (!tcp->Connected()) {
        frame_header_.clear();  // a new connection starts with a header
        // Waiting for a connect. What the board sends meanwhile waits in the socket, so the
        // pause only delays the first read; 50 ms keeps an idle client without a board from
        // waking two hundred times a second.
        std::this_thread::sleep_for(50ms);
        continue;
      }
      if (frame_header_.empty()) frame_header_ = tcp->ReadBytes(protocol::kFrameHeaderSize);
      const std::vector<std::uint8_t> payload =
          tcp->ReadBytes(protocol::FramePayloadLength(frame_header_).value());
      frame_header_.clear();
      switch (protocol::ActionOf(payload)) {
        case protocol::FrameAction::ToSmall:
          RunOnUiWhileRunning(flg_run, [this] {
            if (FrameManager->flg_shrink)
              FrameManager->flg_shrink = false;  // the user's own tap closed it already
            else
              FrameManager->ToSmallImage();
          });
          break;
        case protocol::FrameAction::Reset:
          timer_clearTimer(thread_receive);
          break;
        case protocol::FrameAction::None:
          break;
      }
    } catch (const net::ReadTimeout&) {
      // Dropped; a header already taken is kept for its payload, which stays on the stream.
    } catch (...) {
      // A lost connection or a failed "clear": dropped; the loop goes on.
      frame_header_.clear();
    }
  } while (flg_run);
}

void TFormMain::ClearValue() {
  count_image = 0;
  FrameStorm->count_idea = 0;
  FrameManager->pb_show->Hide();
  // The lists and the drag name the thumbnails: they forget them before the thumbnails go.
  bitmap_list.clear();
  FrameManager->list_img_show.clear();
  img_add = nullptr;
  scroll_view->Content()->DeleteChildren();
  FrameStorm->scroll_timeline->Content()->DeleteChildren();
  edit_from->SetText(QString());
  memo_txt->SetText(QString());
  DetachPlacedPages(*FrameManager);
}

void TFormMain::clear_manager(QObject*) {
  img_clear->SetEnabled(false);
  timer_clear->SetEnabled(true);
}

void TFormMain::timer_clearTimer(QObject*) {
  // Also called by the receive loop: the view work is done on the UI thread, the "clear" goes
  // out from the caller's thread.
  const bool cleared = RunOnUiWhileRunning(flg_run, [this] {
    timer_clear->SetEnabled(false);
    FrameManager->pb_show->Hide();
    DetachPlacedPages(*FrameManager);
    for (ui::Control* thumb : scroll_view->Content()->Children()) thumb->SetEnabled(true);
    Repaint();
    img_clear->SetEnabled(true);
  });
  if (cleared) CreateCommandMessage(u"clear");
}

void TFormMain::DeleteAllImage() {
  FrameManager->pb_show->Hide();
  DetachPlacedPages(*FrameManager);
  Repaint();
  img_clear->SetEnabled(true);
}

// ---------------------------------------------------------------- board messages

void TFormMain::CreateMessageImage(const rtl::AnsiString& action, std::int32_t x, std::int32_t y,
                                   std::int32_t scale, std::int32_t src, std::int32_t id) {
  tcp_thread->tcp_send(protocol::ImageMessage(rtl::AnsiToUnicode(action), x, y, scale, src, id));
}

void TFormMain::CreateStormMessage(const rtl::UnicodeString& action, const rtl::UnicodeString& user,
                                   const rtl::UnicodeString& time, const rtl::UnicodeString& text,
                                   std::int32_t id) {
  tcp_thread->tcp_send(protocol::StormMessage(action, user, time, text, id));
}

void TFormMain::CreateCommandMessage(const rtl::UnicodeString& command) {
  tcp_thread->tcp_send(protocol::CommandMessage(command, rtl::AnsiToUnicode(device_id)));
}

void TFormMain::SendInfo() {
  tcp_thread->tcp_send(
      protocol::InfoMessage(rtl::AnsiToUnicode(m_PCname), rtl::AnsiToUnicode(m_LocalIP)));
}

// ---------------------------------------------------------------- discovery and auto-connect

// On the UDP listener thread, one datagram per call: it only parses and appends, under the
// table's lock.
void TFormMain::udpUDPRead(QObject*, const QByteArray& data, const QString& peerIp, int) {
  const auto beacon =
      protocol::ParseBeacon({reinterpret_cast<const std::uint8_t*>(data.constData()),
                             static_cast<std::size_t>(data.size())});
  if (!beacon) return;
  rtl::WriteLn("receive udp");

  ServerInfo entry;
  entry.ip = peerIp.toStdString();
  entry.name = rtl::UnicodeToAnsi(rtl::Utf8ToUnicode(beacon->name));
  // A known address, or a board beyond the 20th, changes nothing.
  server_list.AddDiscovered(std::move(entry));
}

void TFormMain::timer_find_on(QObject*) {
  const std::optional<ServerInfo> first = server_list.Entry(0);
  if (!first) return;
  // One attempt in the life of the process, whatever its outcome.
  timer_find->SetEnabled(false);
  if (!tcp_thread->tcp_connect(first->ip)) return;
  txt_name->SetText(ToQString(first->name));
  txt_ip->SetText(ToQString(first->ip));
  FrameSetting->ip_server = first->ip;
  ReLoadView();
  server_list.MarkConnected(0);
}

void TFormMain::ReLoadView() {
  img_connect_info->Show();
  FrameSetting->layout_exp->SetEnabled(true);
  FrameSetting->layout_exp->SetHitTest(true);
  img_clear->SetEnabled(true);
  GetPcInfo();
  CreateCommandMessage(u"reload");
  SetLayoutValue();
  img_sw_con->SetEnabled(true);
}

// ---------------------------------------------------------------- slide strip

void TFormMain::SetLayoutValue() {
  // The lists and the drag name the thumbnails: they forget them before the thumbnails go, so
  // nothing names a destroyed one even when the listing below fails.
  bitmap_list.clear();
  FrameManager->list_img_show.clear();
  img_add = nullptr;
  scroll_view->Content()->DeleteChildren();

  rtl::WriteLn(img_path);
  const std::vector<std::u16string> files = rtl::ListFiles(rtl::AnsiToUnicode(img_path));

  const auto on_down = ui::BindHandler<QObject*, ui::MouseButton, ui::ShiftState, float, float>(
      this, QStringLiteral("mouse_down_img_view"));
  const auto on_move = ui::BindHandler<QObject*, ui::ShiftState, float, float>(
      this, QStringLiteral("mouse_move_img_view"));
  const auto on_up = ui::BindHandler<QObject*, ui::MouseButton, ui::ShiftState, float, float>(
      this, QStringLiteral("mouse_up_img_view"));

  std::vector<std::size_t> pages;  // listing indices of the page images
  for (std::size_t i = 0; i < files.size(); ++i)
    if (IsPageImage(FileNameOf(files[i]))) pages.push_back(i);  // a skipped entry keeps its place

  // The files are read and checked a few ahead on worker threads and taken in listing order;
  // the first that does not decode ends the rebuild, and what was read ahead of it is dropped.
  // A page keeps its file's bytes and is decoded when drawn, at the size it is drawn.
  const std::size_t ahead_limit = std::max(2u, std::thread::hardware_concurrency());
  std::deque<std::future<ui::Picture>> ahead;
  std::size_t queued = 0;
  for (std::size_t n = 0; n < pages.size(); ++n) {
    while (ahead.size() < ahead_limit && queued < pages.size()) {
      ahead.push_back(
          std::async(std::launch::async, [file = QString::fromStdU16String(files[pages[queued]])] {
            return ui::Picture::FromFile(file);
          }));
      ++queued;
    }
    const ui::Picture picture = ahead.front().get();
    ahead.pop_front();

    auto* thumb = new ui::Image(this);
    thumb->SetX(static_cast<float>(kThumbPitch * static_cast<double>(pages[n])));
    thumb->SetWidth(kThumbWidth);
    thumb->SetHeight(kThumbHeight);
    thumb->OnMouseDown = on_down;
    thumb->OnMouseMove = on_move;
    thumb->OnMouseUp = on_up;
    thumb->SetPicture(picture);
    thumb->SetTag(static_cast<long long>(n) + 1);
    bitmap_list.push_back(&thumb->GetPicture());
    scroll_view->AddObject(thumb);
  }
}

// ---------------------------------------------------------------- drag to the board grid

namespace {

// The marker goes to the cell under the ghost's top-left corner (not the nearest one); the row
// boundaries lie at multiples of 76.2 of the ghost's y. Kept within the grid on every side.
void SnapShadeGrid(ui::Image* marker, const ui::Image* ghost) {
  const int gx = static_cast<int>(ghost->X());
  const int gy = static_cast<int>(ghost->Y());
  int row = static_cast<int>(gy / 76.2);
  if (row >= 5) row = 4;
  if (row < 0) row = 0;
  int cell_x = gx > 909 ? 807 : gx - gx % 130 + 27;
  if (cell_x < 27) cell_x = 27;
  marker->SetPosition(static_cast<float>(cell_x), static_cast<float>(35 + 75 * row));
}

}  // namespace

void TFormMain::mouse_down_img_view(QObject*, ui::MouseButton, ui::ShiftState, float, float) {
  count_move = 0;
  flg_down = true;
}

void TFormMain::mouse_move_img_view(QObject* sender, ui::ShiftState, float, float y) {
  ++count_move;
  if (y > kDragBand || !flg_down) return;
  auto* thumb = qobject_cast<ui::Image*>(sender);
  if (!thumb) return;
  if (img_temp) {  // a drag already under way gives way to this one
    img_temp->SetParent(nullptr);
    img_temp->deleteLater();
    img_temp = nullptr;
  }

  img_add = thumb;
  paintbox_shade->Show();
  paintbox_shade->BringToFront();
  const int w = static_cast<int>(thumb->Width());
  const int h = static_cast<int>(thumb->Height());
  img_temp = new ui::Image(this);
  img_temp->SetPicture(thumb->GetPicture());
  img_temp->SetSize(static_cast<float>(w), static_cast<float>(h));
  img_temp->SetOpacity(0.5f);
  pt_down = ui::CursorPos();
  x_center = static_cast<float>(w / 2);
  y_center = static_cast<float>(h / 2);
  img_temp->SetPosition(static_cast<float>(pt_down.x()) / scale_dpi_x - x_center,
                        static_cast<float>(pt_down.y()) / scale_dpi_y - y_center + height_un);
  SnapShadeGrid(img_shade_grid, img_temp);
  img_temp->SetParent(paintbox_shade);
  // From here the overlay's mouse surface takes the moves, the release and the leave.
  paintbox_move->BringToFront();
}

void TFormMain::mouse_up_img_view(QObject* sender, ui::MouseButton, ui::ShiftState, float, float) {
  auto* thumb = qobject_cast<ui::Image*>(sender);
  if (count_move <= 1 && thumb) {
    img_add = thumb;
    img_shade_grid->SetPosition(kClickCellX, kClickCellY);
    // The page is on the board view once AddItem has placed it, even when its send fails:
    // the thumbnail is disabled either way, so a page is placed only once.
    try {
      FrameManager->AddItem(kClickCellX, kClickCellY, thumb);
    } catch (...) {
      thumb->SetEnabled(false);
      flg_down = false;
      throw;
    }
    thumb->SetEnabled(false);
  }
  flg_down = false;
}

void TFormMain::paintbox_moveMouseMove(QObject*, ui::ShiftState, float x, float y) {
  y_bef = static_cast<int>(y);
  if (!img_temp) return;
  img_temp->SetPosition(x - x_center, y - y_center);
  SnapShadeGrid(img_shade_grid, img_temp);
  Repaint();
}

void TFormMain::EndDrag(bool drop) {
  if (!flg_down) return;
  // The overlay and the ghost go however the drop ends, a failed send included: a drag left
  // up would drop the same page again at the next release.
  struct Finish {
    TFormMain* form;
    ~Finish() {
      form->paintbox_shade->Hide();
      if (img_temp) {
        img_temp->SetParent(nullptr);
        img_temp->deleteLater();
        img_temp = nullptr;
      }
      flg_down = false;
    }
  } finish{this};
  // A strip rebuilt during the drag took the thumbnail (img_add is null then): nothing drops.
  if (!drop || !img_add || !img_temp) return;
  ui::Image* thumb = img_add;
  try {
    FrameManager->AddItem(static_cast<int>(img_temp->X()), static_cast<int>(img_temp->Y()), thumb);
  } catch (...) {
    thumb->SetEnabled(false);
    throw;
  }
  thumb->SetEnabled(false);
}

void TFormMain::paintbox_moveMouseUp(QObject*, ui::MouseButton, ui::ShiftState, float, float y) {
  EndDrag(y <= kDropLimitY);
}

void TFormMain::paintbox_moveMouseLeave(QObject*) {
  EndDrag(y_bef < kDropLimitYBef);
}

// ---------------------------------------------------------------- idea entry

void TFormMain::memo_txt_onchange(QObject*) {
  // An idea is one line: Enter only moves on to the name box. Every line break goes, and only
  // the breaks, so an Enter typed inside the text loses none of its characters.
  const QString text = memo_txt->GetText();
  if (text.contains(QLatin1String("\r\n"))) {
    QString line = text;
    line.remove(QLatin1String("\r\n"));
    memo_txt->SelectAll();
    memo_txt->DeleteSelection();
    memo_txt->SetText(line);
  }
  edit_from->SetFocus();
  edit_from->ResetSelection();
}

void TFormMain::edit_from_keydown(QObject*, quint16& key, QChar&, ui::ShiftState) {
  if (key == ui::vk::Return) SendStorm();  // whatever the modifiers; the key goes on
}

void TFormMain::img_send_click(QObject*) {
  SendStorm();
}

void TFormMain::SendStorm() {
  if (memo_txt->GetText().isEmpty()) {
    ui::ShowMessage(QStringLiteral("Please enter an idea"));
  } else {
    const std::tm now = LocalTimeNow();
    const QString time = QString::asprintf("%02d:%02d", now.tm_hour, now.tm_min);
    FrameStorm->AddItem(edit_from->GetText().toStdU16String(), time.toStdU16String(),
                        memo_txt->GetText().toStdU16String());
    memo_txt->SelectAll();
    memo_txt->DeleteSelection();
  }
  memo_txt->SetFocus();
}
