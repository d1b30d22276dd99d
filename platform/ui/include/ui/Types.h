#pragma once
// Value types shared by the UI layer: input enums, alignment, colours and the layer's error.

#include <QObject>
#include <QString>
#include <cstdint>

#include "rtl/Exception.h"

namespace ui {
Q_NAMESPACE

enum class MouseButton { Left, Right, Middle };
Q_ENUM_NS(MouseButton)

enum ShiftFlag {
  ssShift = 0x01,
  ssAlt = 0x02,
  ssCtrl = 0x04,
  ssLeft = 0x08,
  ssRight = 0x10,
  ssMiddle = 0x20,
};
Q_DECLARE_FLAGS(ShiftState, ShiftFlag)
Q_FLAG_NS(ShiftState)

// How a control is placed inside its parent. Invisible controls take no part.
enum class Align {
  None,
  Top,
  Left,
  Right,
  Bottom,
  MostTop,
  MostBottom,
  MostLeft,
  MostRight,
  Client,
  Contents,
  Center,
  VertCenter,
  HorzCenter,
  Horizontal,
  Vertical,
};
Q_ENUM_NS(Align)

enum class WrapMode { Original, Fit, Stretch, Tile, Center };
Q_ENUM_NS(WrapMode)

enum class TextAlign { Leading, Center, Trailing };
Q_ENUM_NS(TextAlign)

enum class LineType { Diagonal, Top, Left };
Q_ENUM_NS(LineType)

enum class CalloutPosition { Top, Left, Bottom, Right };
Q_ENUM_NS(CalloutPosition)

// Which sides of a rectangle are outlined.
enum SideFlag { sdTop = 1, sdLeft = 2, sdBottom = 4, sdRight = 8 };
Q_DECLARE_FLAGS(Sides, SideFlag)
Q_FLAG_NS(Sides)

// 0xAARRGGBB, as the descriptions write colours.
using AlphaColor = std::uint32_t;

struct Bounds {
  float left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const Bounds&, const Bounds&) = default;
};

// Key codes of the key-down events (Windows virtual-key numbering).
namespace vk {
inline constexpr quint16 Back = 8, Tab = 9, Return = 13, Shift = 16, Control = 17, Menu = 18,
                         Escape = 27, Space = 32, Prior = 33, Next = 34, End = 35, Home = 36,
                         Left = 37, Up = 38, Right = 39, Down = 40, Insert = 45, Delete = 46,
                         F1 = 112;
}

// Every error the UI layer raises; an rtl::Exception, so generic handlers catch it.
class Error : public rtl::Exception {
 public:
  explicit Error(const QString& message);
};

}  // namespace ui

Q_DECLARE_OPERATORS_FOR_FLAGS(ui::ShiftState)
Q_DECLARE_OPERATORS_FOR_FLAGS(ui::Sides)
