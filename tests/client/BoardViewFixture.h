#pragma once
// A window with a slide strip, connected to a board peer on loopback, and the gestures of the
// board view driven through the form's dispatch.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPointF>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "board_peer/BoardPeer.h"
#include "ui/Screen.h"

namespace clienttest {

// One message as the board read it.
struct Sent {
  int kind = 0;  // msgId
  std::string action;
  int x = 0, y = 0, src = 0, id = 0;
};

// A position in design units as the board receives it.
inline int WireX(int x) {
  return static_cast<int>(x / 960.0 * 10000.0);
}
inline int WireY(int y) {
  return static_cast<int>(y / 540.0 * 10000.0);
}

inline ::testing::AssertionResult IsImage(const Sent& s, const std::string& action, int x, int y,
                                          int src, int id) {
  if (s.kind == 1 && s.action == action && s.x == WireX(x) && s.y == WireY(y) && s.src == src &&
      s.id == id)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got kind " << s.kind << " " << s.action << " x " << s.x << " y " << s.y << " src "
         << s.src << " id " << s.id << ", want " << action << " x " << WireX(x) << " y " << WireY(y)
         << " src " << src << " id " << id;
}

class BoardViewTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ResetConnectState();
    board_ = clienttest::StartBoard();
    ASSERT_TRUE(board_->Running());
  }
  void TearDown() override {
    form_.reset();
    board_.reset();
    ResetConnectState();
    WindowTest::TearDown();
  }

  // The window with `pages` strip pages of distinct colours; connected unless told otherwise.
  void OpenWindow(int pages = 3, bool connect = true, QSize screen = {960, 540}, double dpi = 1.0) {
    namespace fs = std::filesystem;
    fs::create_directories(dir_ / "img_default");
    for (int i = 0; i < pages; ++i) {
      QImage picture(64, 36, QImage::Format_RGB32);
      picture.fill(QColor::fromHsv(i * 300 / std::max(pages, 1), 200, 200));
      ASSERT_TRUE(
          picture.save(QString::fromStdString(
                           (dir_ / "img_default" / ("p" + std::to_string(i) + ".png")).string()),
                       "PNG"));
    }
    // A window of an earlier case of the same test left the reconnect state behind: this
    // window's supervisor would connect on its own beside the connect below.
    ResetConnectState();
    form_ = MakeWindow(screen, dpi);
    form_->timer_find->SetEnabled(false);
    metrics_ = std::make_shared<ui::FixedScreenMetrics>(screen, dpi);
    ui::SetScreenMetrics(metrics_);
    if (connect) {
      // Earlier windows of the same test left their texts: this one's begin after them.
      const std::size_t before = board_->Texts().size();
      ASSERT_TRUE(form_->tcp_thread->tcp_connect(board_->Host()));
      ASSERT_TRUE(board_->WaitForTexts(before + 1, std::chrono::seconds(5)));
      seen_ = before + 1;  // after the handshake
    }
    form_->SetLayoutValue();
    form_->CloseSetting();
    ASSERT_EQ(form_->scroll_view->Content()->ChildrenCount(), pages);
  }

  ui::Image* Thumb(int position) const {
    return qobject_cast<ui::Image*>(form_->scroll_view->Content()->Child(position));
  }
  TFrameManager& View() const { return *form_->FrameManager; }
  // Placed pages: the children of img_bg from the fourth on (before any clear).
  ui::Image* Placed(int index) const {
    return qobject_cast<ui::Image*>(View().img_bg->Child(3 + index));
  }

  static QPointF At(const ui::Control* c, QPointF local) { return c->LocalToForm().map(local); }
  void Press(QPointF p) { form_->DispatchMouseDown(ui::MouseButton::Left, {}, p); }
  void Move(QPointF p) { form_->DispatchMouseMove({}, p); }
  void Release(QPointF p) { form_->DispatchMouseUp(ui::MouseButton::Left, {}, p); }
  void Leave() { form_->DispatchMouseLeave(); }

  // A click on a thumbnail: the page lands in the cell at (417, 35).
  void ClickThumb(int position) {
    const QPointF p = At(Thumb(position), {40, 30});
    Press(p);
    Release(p);
  }
  // A placed page's gesture: press at `local`, then moves of the pointer by `step` in design
  // units (the page follows, so the pointer stays over it); no release.
  void DragPage(ui::Image* page, QPointF step, int steps, QPointF local = {50, 50}) {
    QPointF p = At(page, local);
    Press(p);
    for (int i = 0; i < steps; ++i) {
      p += step;
      Move(p);
    }
    last_ = p;
  }

  // What the board received since the last call: a "reload" command sent behind them marks the
  // end, so "nothing was sent" is seen without waiting for silence. Other commands (a "clear")
  // are among what was received.
  using Pointer = nlohmann::ordered_json::json_pointer;
  // Not every text is a message: the handshake is not.
  static bool IsMessage(const board_peer::Text& text) {
    return text.is_json && text.json.contains(Pointer("/phone/message/msgId"));
  }
  static bool IsMarker(const board_peer::Text& text) {
    const Pointer command("/phone/message/msg/command");
    return IsMessage(text) && text.json[Pointer("/phone/message/msgId")] == 3 &&
           text.json.contains(command) && text.json[command] == "reload";
  }
  std::vector<Sent> Received() {
    form_->CreateCommandMessage(u"reload");
    std::vector<Sent> out;
    const bool arrived = PumpUntil([&] {
      const auto texts = board_->Texts();
      for (std::size_t i = seen_; i < texts.size(); ++i)
        if (IsMarker(texts[i])) return true;
      return false;
    });
    EXPECT_TRUE(arrived) << "the board did not receive the marker";
    const auto texts = board_->Texts();
    std::size_t i = seen_;
    for (; i < texts.size(); ++i) {
      if (IsMarker(texts[i])) break;
      if (!IsMessage(texts[i])) continue;  // a handshake after a reconnect
      const auto& message = texts[i].json["phone"]["message"];
      Sent s;
      s.kind = message["msgId"].get<int>();
      const auto& msg = message["msg"];
      if (s.kind == 3) s.action = msg["command"].get<std::string>();
      if (s.kind == 1) {
        s.action = msg["action"].get<std::string>();
        s.x = msg["x"].get<int>();
        s.y = msg["y"].get<int>();
        s.src = msg["src"].get<int>();
        s.id = msg["id"].get<int>();
      }
      out.push_back(s);
    }
    seen_ = i + 1;
    return out;
  }

  std::unique_ptr<board_peer::BoardPeer> board_;
  std::unique_ptr<TFormMain> form_;
  std::shared_ptr<ui::FixedScreenMetrics> metrics_;
  QPointF last_;  // where DragPage left the pointer
  std::size_t seen_ = 0;
};

}  // namespace clienttest
