#include "MainForm.h"

#include <QPointF>
#include <QRect>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

#include "ui/Application.h"
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
[[maybe_unused]] QPointF pt_down;
[[maybe_unused]] float x_center = 0;
[[maybe_unused]] float y_center = 0;
[[maybe_unused]] ui::Image* img_temp = nullptr;
[[maybe_unused]] ui::Image* img_add = nullptr;
bool flg_down = false;
[[maybe_unused]] int count_move = 0;
[[maybe_unused]] float y_bef = 0;

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

}  // namespace

TFormMain::TFormMain(QObject* owner) : ui::Form(owner) {
  FormMain = this;
  RegisterNetKinds();
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
  // Reading the description starts the UDP listener and the receive thread; the receive loop
  // waits for flg_run, which is set only once every field below is in place.
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

  count_server = 0;
  device_id.clear();
  img_path.clear();
  server_list = {};
  bitmap_list.clear();
  flg_run = true;

  ReadDeviceId();
  InitValue();
  GetScreenInfo();
  img_sw_con->SetEnabled(false);
  img_clear->SetEnabled(false);
  FrameSetting->InitView();

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
        std::this_thread::sleep_for(10ms);
        continue;
      }
      // Connected: nothing is read yet, so the loop only idles here.
      std::this_thread::sleep_for(10ms);
    } catch (...) {
      // Errors of one turn are dropped; the loop goes on.
    }
  } while (flg_run);
}

void TFormMain::clear_manager(QObject*) {
  img_clear->SetEnabled(false);
  timer_clear->SetEnabled(true);
}

void TFormMain::timer_clearTimer(QObject*) {
  timer_clear->SetEnabled(false);
  img_clear->SetEnabled(true);
}

void TFormMain::timer_find_on(QObject*) {}
void TFormMain::udpUDPRead(QObject*, const QByteArray&, const QString&, int) {}
void TFormMain::paintbox_moveMouseMove(QObject*, ui::ShiftState, float, float) {}
void TFormMain::paintbox_moveMouseUp(QObject*, ui::MouseButton, ui::ShiftState, float, float) {}
void TFormMain::paintbox_moveMouseLeave(QObject*) {}
void TFormMain::memo_txt_onchange(QObject*) {}
void TFormMain::edit_from_keydown(QObject*, quint16&, QChar&, ui::ShiftState) {}
void TFormMain::img_send_click(QObject*) {}
