// The design of the program's one window, Form1, as plain data: what every backend builds and
// what the window object changes for debug mode. Sizes and positions are pixels at 96 dots per
// inch; texts are Windows-1250. No toolkit here, so that each backend draws the same window.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/window.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::window {

struct TRect {
    int Left;
    int Top;
    int Width;
    int Height;
};

struct TFontDesign {
    std::string_view Face;
    int PixelHeight;
    bool Bold;
};

struct TRgb {
    std::uint8_t Red;
    std::uint8_t Green;
    std::uint8_t Blue;
};

enum class TControlKind { Panel, Label, Memo, Button };

struct TControlDesign {
    platform::TControlId Id;
    TControlKind Kind;
    std::string_view Name;
    TRect Bounds;
    std::string_view Caption;  // empty for the memos
    bool Visible;
};

// The window: a tool window with a small caption bar, fixed in size, centred on the desktop when
// shown, without system menu or close button until the program allows closing. Its background is
// the system's button face colour, its text the system's window-text colour.
inline constexpr std::string_view kFormCaption = "Terminal";
inline constexpr int kClientWidth = 458;
inline constexpr int kClientHeight = 84;
// "MS Sans Serif" 8 point: 11 pixels high at 96 dots per inch.
inline constexpr TFontDesign kFormFont{"MS Sans Serif", 11, false};

// The status caption Panel2 has a font of its own, a raised bevel and its text centred.
inline constexpr TFontDesign kCaptionFont{"MS Sans Serif", 16, true};
inline constexpr std::string_view kDesignStatus = "Nákup"_w1250;

constexpr TRgb CaptionColor(platform::TColor color) {
    return color == platform::TColor::Blue ? TRgb{0, 0, 255} : TRgb{255, 0, 0};
}

// Every control in its design position and size. The memos are read-only, with a vertical
// scroll bar, and wrap long lines in the display; the buttons stay hidden in every mode.
inline constexpr std::array<TControlDesign, 7> kControls{{
    {platform::TControlId::Panel2,
     TControlKind::Panel,
     "Panel2",
     {6, 20, 445, 37},
     kDesignStatus,
     true},
    {platform::TControlId::Label2, TControlKind::Label, "Label2", {6, 58, 21, 13}, "Log:", false},
    {platform::TControlId::Memo1, TControlKind::Memo, "Memo1", {6, 76, 445, 103}, "", false},
    {platform::TControlId::Label1,
     TControlKind::Label,
     "Label1",
     {86, 56, 35, 13},
     "Výstup:"_w1250,
     false},
    {platform::TControlId::Memo3, TControlKind::Memo, "Memo3", {126, 60, 445, 101}, "", false},
    {platform::TControlId::Button1,
     TControlKind::Button,
     "Button1",
     {243, 60, 94, 25},
     "Připojit / Odpojit"_w1250,
     false},
    {platform::TControlId::Button2,
     TControlKind::Button,
     "Button2",
     {345, 60, 109, 25},
     "&Poslat terminálu"_w1250,
     false},
}};

constexpr const TControlDesign& ControlDesign(platform::TControlId id) {
    for (const TControlDesign& control : kControls) {
        if (control.Id == id)
            return control;
    }
    return kControls.front();  // unreachable: every control is in the table
}

// Debug mode: the window grows to this outer height (caption bar and border included, width
// unchanged), and these controls are shown and moved, in this order. A left that is not given
// stays as designed.
struct TDebugPlacement {
    platform::TControlId Id;
    int Top;
    std::optional<int> Left;
};

inline constexpr int kDebugWindowHeight = 365;
inline constexpr std::array<TDebugPlacement, 4> kDebugPlacements{{
    {platform::TControlId::Label1, 216, 6},
    {platform::TControlId::Label2, 90, std::nullopt},
    {platform::TControlId::Memo1, 108, std::nullopt},
    {platform::TControlId::Memo3, 234, 6},
}};

}  // namespace vendilox::window
