#pragma once
// Shared helpers of the client's window tests: one QApplication for the run, a fresh working
// directory per test (the window reads and writes "imei" there), dialogs recorded, clicks.

#include <gtest/gtest.h>

#include <QPointF>
#include <QString>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "MainForm.h"
#include "ui/Application.h"
#include "ui/Screen.h"

namespace clienttest {

// Each test runs in its own empty temporary folder; the folder goes afterwards.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A window made the way the process entry makes it, with fixed screen metrics.
  std::unique_ptr<TFormMain> MakeWindow(QSize screen = {960, 540}, double dpi = 1.0);
  // Press and release in the middle of a control, through the form's dispatch.
  static void Click(TFormMain& form, ui::Control* control);
  static std::string ReadFile(const std::filesystem::path& path);
  static void WriteFile(const std::filesystem::path& path, const std::string& bytes);

  std::filesystem::path dir_;
  std::vector<QString> dialogs_;

 private:
  std::filesystem::path previous_;
};

}  // namespace clienttest
