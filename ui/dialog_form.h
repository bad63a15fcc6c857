// The import dialog's form: caption, geometry and control texts that every
// window toolkit lays out the same way. Texts are Windows-1250.
#pragma once

#include <string_view>

namespace downsql::ui {

struct ControlBox {
  int left, top, width, height;
};

struct ImportDialogForm {
  static constexpr std::string_view kCaption =
      "Import wszystkich brakuj\xB9"
      "cych losowa\xF1";
  static constexpr int kLeft = 151, kTop = 219;                  // screen position
  static constexpr int kClientWidth = 506, kClientHeight = 340;  // resizable
  static constexpr std::string_view kFontName = "MS Sans Serif";
  static constexpr int kFontPoints = 8;

  // Panel1: docked to the bottom, carries the buttons.
  static constexpr int kButtonPanelHeight = 41, kPanelBorderWidth = 5;
  static constexpr std::string_view kGetCaption = "Pobierz";
  static constexpr ControlBox kGetBox{9, 10, 76, 22};
  static constexpr std::string_view kExecuteCaption = "Wykonaj";
  static constexpr ControlBox kExecuteBox{97, 10, 76, 22};
  // "Zamknij" is anchored to the right and bottom edges of the panel.
  static constexpr std::string_view kCloseCaption = "Zamknij";
  static constexpr ControlBox kCloseBox{408, 10, 76, 22};

  static constexpr int kStatusBarHeight = 19;
  static constexpr std::string_view kEditorFontName = "Courier New";
  static constexpr int kEditorFontPoints = 10, kGutterFontPoints = 8;
};

}  // namespace downsql::ui
