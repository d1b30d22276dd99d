#pragma once
// The client's only window: the design panel with the board view, the idea timeline and the
// settings overlay, the two bottom bars, the drag overlay and the connection badge; it owns
// the board connection, the discovery listener, the receive thread and the board table.

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/BoardTable.h"
#include "rtl/CodePage.h"
#include "ui/Form.h"
#include "ui/Types.h"

// Declared only: the window holds pointers to its frames, components and supervisor, so a unit
// that only builds messages or reads the board table does not compile their headers.
class TFrameManager;
class TFrameSetting;
class TFrameStorm;
class TcpThread;
class UdpServerComponent;
class TcpClientComponent;
class ThreadRunComponent;
namespace ui {
class Edit;
class HorzScrollBox;
class Image;
class Layout;
class Memo;
class PaintBox;
class Panel;
class Picture;
class Rectangle;
class Text;
class Timer;
}  // namespace ui

class TFormMain : public ui::Form {
  Q_OBJECT
 public:
  // Sets FormMain to the new window before anything else, so the frames and threads the
  // description starts can reach it.
  explicit TFormMain(QObject* owner = nullptr);
  // For tests only, not a setting: the discovery listener binds `ip` at `port` (0: a free port)
  // instead of every address at 3395, so a test does not depend on what else runs on the
  // machine or the network. The program always makes the window above.
  struct ListenerBinding {
    std::string ip;
    int port = 0;
  };
  TFormMain(QObject* owner, const ListenerBinding& listener);
  ~TFormMain() override;

  // Resets the view state: badge hidden, mode switch and clear button disabled, slide folder
  // back to img_default, placed-page serial 0.
  void InitValue();
  // The DPI scale of the monitor nearest the window's centre.
  float GetScreenScale();
  // Computes the scale globals and scales Panel1 to the screen.
  void GetScreenInfo();
  // Hides the settings overlay.
  void CloseSetting();
  // Ends the program: the run flag off, the receive thread told to stop, the connection closed,
  // the window closed (which ends the event loop).
  void StopProgram();

  // Board messages, sent through tcp_thread on the caller's thread. A failed send raises out of
  // the builder into its caller. Positions are in design units, -1 for none; they go out in
  // 1/10000 of the design width and height, truncated toward zero.
  void CreateMessageImage(const rtl::AnsiString& action, std::int32_t x, std::int32_t y,
                          std::int32_t scale, std::int32_t src, std::int32_t id);
  void CreateStormMessage(const rtl::UnicodeString& action, const rtl::UnicodeString& user,
                          const rtl::UnicodeString& time, const rtl::UnicodeString& text,
                          std::int32_t id);
  // "id" is device_id, always as a string.
  void CreateCommandMessage(const rtl::UnicodeString& command);
  // The PC's host name and address as GetPcInfo last left them.
  void SendInfo();

  // After a successful connect: badge shown, Import PPT page and clear button enabled, host
  // info refreshed, "reload" sent, strip rebuilt, mode switch enabled. Raises on a failed send
  // or strip rebuild; the steps after it do not run.
  void ReLoadView();
  // Rebuilds the slide strip from img_path: one thumbnail per png/jpg/jpeg file in listing
  // order. Raises when the folder is missing or a file does not decode; the thumbnails made
  // before stay.
  void SetLayoutValue();

  // The full reset before a connect from the settings overlay: placed-page serial and idea
  // counter 0, enlarged view hidden, strip thumbnails and idea cards destroyed, idea boxes
  // emptied, placed pages detached from the board. Sends nothing.
  void ClearValue();
  // The start of an import: placed pages detached, enlarged view hidden, repaint, clear button
  // enabled. Sends nothing.
  void DeleteAllImage();

  // Handlers of the description.
  Q_INVOKABLE void FormActivate(QObject* sender);
  Q_INVOKABLE void FormKeyDown(QObject* sender, quint16& key, QChar& keyChar, ui::ShiftState shift);
  Q_INVOKABLE void img_sw_con_click(QObject* sender);
  Q_INVOKABLE void img_sw_storm_click(QObject* sender);
  Q_INVOKABLE void img_set_click(QObject* sender);
  Q_INVOKABLE void timer_find_on(QObject* sender);
  Q_INVOKABLE void timer_clearTimer(QObject* sender);
  Q_INVOKABLE void clear_manager(QObject* sender);
  Q_INVOKABLE void udpUDPRead(QObject* sender, const QByteArray& data, const QString& peerIp,
                              int peerPort);
  Q_INVOKABLE void thread_receiveRun(QObject* sender);
  Q_INVOKABLE void paintbox_moveMouseMove(QObject* sender, ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void paintbox_moveMouseUp(QObject* sender, ui::MouseButton button,
                                        ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void paintbox_moveMouseLeave(QObject* sender);
  Q_INVOKABLE void memo_txt_onchange(QObject* sender);
  Q_INVOKABLE void edit_from_keydown(QObject* sender, quint16& key, QChar& keyChar,
                                     ui::ShiftState shift);
  Q_INVOKABLE void img_send_click(QObject* sender);
  // Posts the idea box's text as an idea signed with the name box and the time of day (or
  // updates the card being edited), then empties the idea box; an empty idea box only shows
  // "Please enter an idea". The focus goes back to the idea box unless a send fails.
  void SendStorm();
  // Handlers of the strip thumbnails, bound when the strip is built.
  Q_INVOKABLE void mouse_down_img_view(QObject* sender, ui::MouseButton button,
                                       ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void mouse_move_img_view(QObject* sender, ui::ShiftState shift, float x, float y);
  Q_INVOKABLE void mouse_up_img_view(QObject* sender, ui::MouseButton button, ui::ShiftState shift,
                                     float x, float y);
  // Ends a drag from the strip: drops the page on the marker's cell (drop) or cancels; the
  // overlay hides and the ghost goes either way. Does nothing unless a press is armed.
  void EndDrag(bool drop);

  // Own fields.
  std::int32_t screen_width = 0;
  std::int32_t screen_height = 0;
  std::int32_t count_image = 0;
  rtl::AnsiString device_id;
  std::atomic<bool> flg_run{false};  // read by the receive thread at every turn
  rtl::AnsiString img_path;
  // The board table: appended to by the UDP listener thread (discovery) and the UI thread
  // (typed boards), read by the UI thread; it keeps its own lock.
  protocol::BoardTable server_list;
  // The number of used entries of server_list.
  std::int32_t count_server() const { return server_list.Count(); }
  std::vector<const ui::Picture*> bitmap_list;  // the strip thumbnails' pictures, not owned

  // Components.
  ui::Timer* timer_find = nullptr;
  ui::Panel* Panel1 = nullptr;
  TFrameManager* FrameManager = nullptr;
  TFrameStorm* FrameStorm = nullptr;
  ui::Layout* layout_con = nullptr;
  ui::Image* img_panel_con = nullptr;
  ui::HorzScrollBox* scroll_view = nullptr;
  ui::Image* img_sw_con = nullptr;
  ui::Image* img_set_con = nullptr;
  ui::Image* img_clear = nullptr;
  ui::Layout* layout_storm = nullptr;
  ui::Image* img_panel_storm = nullptr;
  ui::Image* img_sw_storm = nullptr;
  ui::Image* img_set_storm = nullptr;
  ui::Image* img_send = nullptr;
  ui::Memo* memo_txt = nullptr;
  ui::Edit* edit_from = nullptr;
  ui::PaintBox* paintbox_shade = nullptr;
  ui::Image* img_shade_grid = nullptr;
  ui::PaintBox* paintbox_move = nullptr;
  ui::Rectangle* shade_set = nullptr;
  TFrameSetting* FrameSetting = nullptr;
  ui::Image* img_connect_info = nullptr;
  ui::Image* Image1 = nullptr;
  ui::Image* Image2 = nullptr;
  ui::Text* Text1 = nullptr;
  ui::Text* txt_ip = nullptr;
  ui::Text* txt_name = nullptr;
  ui::Image* img_bg_top = nullptr;
  ui::Timer* timer_clear = nullptr;
  UdpServerComponent* udp = nullptr;
  TcpClientComponent* tcp = nullptr;
  ThreadRunComponent* thread_receive = nullptr;

  // The connection supervisor, running from the end of construction; it borrows tcp, so it is
  // stopped before the components go.
  std::unique_ptr<TcpThread> tcp_thread;

 private:
  void Construct();
  void ReadDeviceId();

  // Receive thread only: a frame header taken whose payload a read time-out cut off. The
  // payload is the next thing on the connection, so the next turn reads it rather than a
  // header from its first bytes, which would put every later frame out of step.
  std::vector<std::uint8_t> frame_header_;
};

// The window, set when its construction begins.
extern TFormMain* FormMain;

// Screen scaling, computed once by GetScreenInfo.
extern float scale_x;
extern float scale_dpi_x;
extern float scale_dpi_y;
extern float height_un;

// The PC's host name and first IPv4 address, from the last successful lookup; UI thread only.
extern rtl::AnsiString m_PCname;
extern rtl::AnsiString m_LocalIP;

// Refreshes m_PCname and m_LocalIP. A failed host-name read prints "receive failed" and keeps
// both; a name without an IPv4 address leaves m_LocalIP empty.
void GetPcInfo();
