// The loading banner, "Загрузка фильма ...", over the picture while a film loads: black text on
// a white shadow one pixel to the right and below.
#pragma once

class QLabel;
class QWidget;

class TLoadingBanner {
 public:
  // The labels ("lblLoading", "lblLoading_Shadow") are children of `host` until shown elsewhere.
  explicit TLoadingBanner(QWidget* host);

  // Shows the banner over `host` (the view that shows the picture), painted at once, or hides it.
  void SetVisible(bool visible, QWidget* host);

 private:
  QLabel* lblLoading;
  QLabel* lblLoading_Shadow;
};
