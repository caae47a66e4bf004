// The floating preview window: a non-modal companion of the setup dialog that
// shows the processed frame at a size of the user's choice (320 x 240 unless
// the stored options say otherwise). The dialog's "Preview" box opens and
// closes it and its render cycle draws into it; the window itself keeps its
// stored options, its place on the screen and its own pair of images, which
// exist only while it is shown.
#pragma once

#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string_view>

#include "options/option_store.h"
#include "platform/host_services.h"
#include "types/pix_buffer.h"
#include "ui/logic/preview_options.h"

namespace tarvo::ui {

class PanelCanvas;

class TPreview : public QWidget {
  Q_OBJECT

 public:
  // What the window needs from the dialog.
  struct Hooks {
    // The frame bar's position and maximum, for the caption and the first frame.
    std::function<void(int32_t* position, int32_t* maximum)> frame;
    // Fetches a frame of the clip into an image (the call's frame callback).
    std::function<void(int32_t frame, PixBufferHandle image, const TRect& rect)> fetch;
    // The user closed the window from its system menu.
    std::function<void()> closedByUser;
    // The window became active: the dialog renders once more.
    std::function<void()> activated;
    // A message to the user.
    std::function<void(std::string_view)> message;
  };

  // Reads the options from `store` (key "\Software\Morlund\Tarvo\Preview");
  // missing or mistyped values take their defaults, sizes outside
  // 32..4096 are held to that range, positions that would put the window off
  // `screen` (the primary screen when empty) are pulled back; any of these
  // writes all six values back. `store` may be null: defaults, nothing
  // written.
  TPreview(OptionStore* store, HostServices& host, QRect screen = QRect());
  ~TPreview() override;

  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  // The six values as the window holds them; the preferences edit them here
  // (a new size takes effect the next time the window is shown).
  PreviewOptions& Options() { return options_; }
  const PreviewOptions& Options() const { return options_; }
  bool VisibleAtLaunch() const { return visibleAtLaunch_; }
  void SetVisibleOption(int32_t visible) { options_.Visible = visible; }
  // Writes "Persistent", "Visible", "Width", "Height", "Top", "Left".
  void UpdateSysReg();

  // Places the window at the stored top and left with a client area 4 pixels
  // larger than the stored picture size each way, and shows it.
  void Open();
  // A new picture size (held to 32..4096) is stored; an open window is
  // hidden and shown again so that its images are made at the new size.
  void SetPictureSize(int32_t width, int32_t height);

  // The window's images; present only while it is shown and the host could
  // make them.
  bool HasImages() const { return work_ && display_; }
  PixBufferHandle WorkHandle() const { return work_; }
  PixBufferHandle DisplayHandle() const { return display_; }
  const TRect& PictureRect() const { return rect_; }
  PanelCanvas* Screen() const { return screen_; }

  // Sets the caption "Tarvo - Preview Frame N of M".
  void ShowFrameCaption(int32_t position, int32_t maximum);

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void ReadOptions(QRect screen);
  void MakeImages();
  void DisposeImages();

  OptionStore* store_;
  HostServices& host_;
  Hooks hooks_;
  PreviewOptions options_;
  bool visibleAtLaunch_ = false;
  QPoint shownAt_;
  int16_t workId_ = 0, displayId_ = 0;
  PixBufferHandle work_ = nullptr;
  PixBufferHandle display_ = nullptr;
  TRect rect_{0, 0, 0, 0};
  QWidget* bevel_ = nullptr;
  PanelCanvas* screen_ = nullptr;
};

}  // namespace tarvo::ui
