#include "ClientQtEnvironment.h"

#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace clienttest {

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[13] = "client_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void WindowTest::SetUp() {
  previous_ = std::filesystem::current_path();
  std::string pattern = (std::filesystem::temp_directory_path() / "vm-window-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  std::filesystem::current_path(dir_);
  ui::SetDialogHook([this](ui::DialogKind, const QString& text) { dialogs_.push_back(text); });
}

void WindowTest::TearDown() {
  ui::SetDialogHook({});
  ui::SetScreenMetrics(nullptr);
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::unique_ptr<TFormMain> WindowTest::MakeWindow(QSize screen, double dpi) {
  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(screen, dpi));
  auto form = std::make_unique<TFormMain>(nullptr);
  EXPECT_EQ(FormMain, form.get());
  return form;
}

void WindowTest::Click(TFormMain& form, ui::Control* control) {
  const QPointF centre =
      control->LocalToForm().map(QPointF(control->Width() / 2, control->Height() / 2));
  form.DispatchMouseDown(ui::MouseButton::Left, {}, centre);
  form.DispatchMouseUp(ui::MouseButton::Left, {}, centre);
}

std::string WindowTest::ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WindowTest::WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace clienttest
