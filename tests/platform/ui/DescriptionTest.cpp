// Descriptions: building the tree, binding handlers by name, embedded frames with overrides.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>

#include "QtEnvironment.h"
#include "ui/Controls.h"
#include "ui/Description.h"
#include "ui/Form.h"

namespace {

class TestFrame : public ui::Frame {
  Q_OBJECT
 public:
  explicit TestFrame(QObject* owner) : ui::Frame(owner) {
    LoadDescription(":/ui-test/test_frame.json");
    caption = Find<ui::Text>("caption");
  }
  Q_INVOKABLE void btn_click(QObject* sender) { clicks.push_back(sender); }

  ui::Text* caption;
  std::vector<QObject*> clicks;
};

class TestForm : public ui::Form {
  Q_OBJECT
 public:
  explicit TestForm(const QString& resource = ":/ui-test/test_form.json") {
    ui::RegisterFrameClass<TestFrame>();
    LoadDescription(resource);
  }
  Q_INVOKABLE void FormKeyDown(QObject*, quint16& key, QChar&, ui::ShiftState shift) {
    keys.emplace_back(key, shift);
  }
  Q_INVOKABLE void img_set_click(QObject* sender) { setClicks.push_back(sender); }
  Q_INVOKABLE void timer1_on(QObject*) { ++ticks; }
  Q_INVOKABLE void edit_from_keydown(QObject*, quint16& key, QChar&, ui::ShiftState) {
    editKeys.push_back(key);
  }

  std::vector<std::pair<quint16, ui::ShiftState>> keys;
  std::vector<QObject*> setClicks;
  std::vector<quint16> editKeys;
  int ticks = 0;
};

TEST(UiDescription, BuildsTheComponentTreeWithSizesPicturesAndTexts) {
  TestForm form;
  EXPECT_EQ(form.Name(), "TestForm");
  EXPECT_EQ(form.Caption(), "Test");
  EXPECT_EQ(form.Width(), 960);

  auto* panel = form.Find<ui::Panel>("Panel1");
  EXPECT_TRUE(panel->ClipChildren());
  EXPECT_EQ(panel->ParentControl(), &form);
  ASSERT_EQ(panel->ChildrenCount(), 6);  // in description order
  EXPECT_EQ(panel->Child(0)->Name(), "img_bg");
  EXPECT_EQ(panel->Child(5)->Name(), "FrameA");

  auto* bg = form.Find<ui::Image>("img_bg");
  // Client alignment fills what the docked bar leaves.
  EXPECT_EQ(bg->BoundsInParent(), QRectF(0, 0, 960, 451));
  EXPECT_EQ(bg->Bitmap().size(), QSize(96, 54));  // the SVG rendered at the size given
  EXPECT_EQ(bg->GetWrapMode(), ui::WrapMode::Stretch);

  auto* set = form.Find<ui::Image>("img_set");
  EXPECT_EQ(set->Tag(), 7);
  EXPECT_EQ(set->BoundsInParent(), QRectF(853, 42, 92, 32));
  EXPECT_EQ(set->Bitmap().size(), QSize(4, 4));

  EXPECT_EQ(form.Find<ui::Layout>("layout_con")->Y(), 451);
  EXPECT_EQ(form.Find<ui::HorzScrollBox>("scroll_view")->BoundsInParent(), QRectF(14, 17, 815, 45));
  auto* edit = form.Find<ui::Edit>("edit_from");
  EXPECT_EQ(edit->MaxLength(), 9);
  EXPECT_EQ(edit->TextPrompt(), "name");

  // Every component of the description is owned by the form and found by name.
  EXPECT_EQ(form.Find<ui::Timer>("timer1")->Owner(), &form);
  EXPECT_THROW(form.Find<ui::Image>("timer1"), ui::Error);
  EXPECT_THROW(form.Find<ui::Image>("nothing"), ui::Error);
}

TEST(UiDescription, EventsAreBoundToTheFormsMethodsByName) {
  TestForm form;
  form.SetClientSize(960, 540);
  form.DispatchMouseDown(ui::MouseButton::Left, {}, {860, 50});
  form.DispatchMouseUp(ui::MouseButton::Left, {}, {860, 50});
  ASSERT_EQ(form.setClicks.size(), 1u);
  EXPECT_EQ(form.setClicks[0], form.FindComponent("img_set"));

  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::ShiftModifier, "\x1b");
  QApplication::sendEvent(form.Widget(), &esc);
  ASSERT_EQ(form.keys.size(), 1u);
  EXPECT_EQ(form.keys[0].first, 27);
  EXPECT_EQ(form.keys[0].second, ui::ShiftState(ui::ssShift));

  auto* edit = form.Find<ui::Edit>("edit_from");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(edit->Widget(), &enter);
  EXPECT_EQ(form.editKeys, std::vector<quint16>{13});
  EXPECT_EQ(form.keys.size(), 2u);  // the form saw the key first

  auto* timer = form.Find<ui::Timer>("timer1");
  EXPECT_FALSE(timer->Enabled());
  timer->SetEnabled(true);
  EXPECT_TRUE(uitest::PumpUntil([&] { return form.ticks >= 2; }));
}

TEST(UiDescription, EmbeddedFrameIsItsOwnClassWithTheWindowsOverrides) {
  TestForm form;
  auto* frame = qobject_cast<TestFrame*>(form.FindComponent("FrameA"));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Owner(), &form);
  EXPECT_EQ(frame->BoundsInParent(), QRectF(10, 10, 200, 100));
  // The frame's components belong to the frame, not to the form.
  EXPECT_EQ(form.FindComponent("caption"), nullptr);
  EXPECT_EQ(frame->caption->GetText(), "overridden");
  EXPECT_EQ(frame->caption->X(), 50);
  EXPECT_EQ(frame->caption->Y(), 5);  // not overridden: the frame's own value
  EXPECT_EQ(frame->Find<ui::Rectangle>("bg")->FillColor(), 0xFF0000FFu);

  // The frame's own events go to the frame's methods.
  form.SetClientSize(960, 540);
  form.DispatchMouseDown(ui::MouseButton::Left, {}, {165, 25});
  form.DispatchMouseUp(ui::MouseButton::Left, {}, {165, 25});
  ASSERT_EQ(frame->clicks.size(), 1u);
  EXPECT_EQ(frame->clicks[0], frame->FindComponent("btn"));
}

TEST(UiDescription, MistakesAreReportedWithTheirPlace) {
  struct Case {
    const char* resource;
    const char* expected;
  };
  const Case cases[] = {
      {":/ui-test/bad_handler.json", "no method no_such_method(QObject*)"},
      {":/ui-test/wrong_params.json", "no method FormKeyDown(QObject*)"},
      {":/ui-test/bad_property.json", "has no property Colour"},
      {":/ui-test/bad_picture.json", "Loading bitmap failed (broken.png)"},
      {":/ui-test/missing.json", "not found"},
  };
  for (const Case& c : cases) {
    try {
      TestForm form(c.resource);
      ADD_FAILURE() << c.resource << " loaded";
    } catch (const ui::Error& e) {
      const QString message = QString::fromStdU16String(e.Message());
      EXPECT_TRUE(message.contains(QString::fromLatin1(c.expected)))
          << c.resource << ": " << message.toStdString();
    }
  }
}

TEST(UiDescription, RegisteredKindsOfOtherLayersAreMadeByTheirFactory) {
  struct Made : ui::Component {
    using Component::Component;
  };
  QJsonObject seen;
  ui::RegisterKind("TestUdp", [&](QObject* owner, const QJsonObject& element, ui::Component*) {
    seen = element;
    return new Made(owner);
  });
  ui::Frame frame(nullptr);
  QFile f(QDir::temp().filePath("ui_kind_test.json"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(R"({"children": [{"kind": "TestUdp", "name": "udp", "DefaultPort": 3395}]})");
  f.close();
  frame.LoadDescription(f.fileName());
  EXPECT_NE(frame.FindComponent("udp"), nullptr);
  EXPECT_EQ(seen["DefaultPort"].toInt(), 3395);
  f.remove();
}

}  // namespace

#include "DescriptionTest.moc"
