#pragma once
// The window that shows the board's test image, modal over its owner: the whole picture at
// the window's full height, in its proportions, from the top-left corner, drawn with
// StretchDIBits. Closing it (close box or Esc) asks `mayClose`, which may keep it open.

#include <windows.h>

#include <functional>
#include <optional>

#include "testimage/test_image.hpp"

namespace q70::win32 {

class TestImageWindow {
  public:
    // The window keeps its own copy of the picture: newer images must not change it.
    TestImageWindow(const testimage::TestImage& picture, std::function<bool(HWND)> mayClose);

    // Runs the window's modal loop until it closes. `topLeft` places it (screen pixels);
    // without one it is centred over the owner.
    void run(HWND owner, std::optional<POINT> topLeft);

    HWND handle() const { return window_; }
    const testimage::TestImage& picture() const { return picture_; }
    // Where the picture was last drawn (empty before the first paint or when nothing could
    // be drawn).
    RECT lastDrawRect() const { return lastDraw_; }
    // Called once the window stands, before its loop runs (tests, cascading).
    std::function<void(TestImageWindow&)> onShown;

  private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint();
    void requestClose();

    const testimage::TestImage picture_;
    std::function<bool(HWND)> mayClose_;
    std::optional<POINT> topLeft_;
    HWND window_ = nullptr;
    RECT lastDraw_{};
};

}  // namespace q70::win32
