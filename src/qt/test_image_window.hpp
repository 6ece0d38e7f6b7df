#pragma once
// The window that shows the board's test image: the whole picture at the window's full
// height, in its proportions, from the top-left corner. Closing it asks the controller,
// which may keep it open.

#include <QByteArray>
#include <QDialog>
#include <QImage>

#include <functional>

#include "testimage/test_image.hpp"

namespace q70::qt {

// The packed 1-bit bitmap as a QImage, rows top-down: the bitmap's rows are stored
// bottom-up, so its first row becomes the image's last. Null when there is no bitmap.
QImage toQImage(const testimage::TestImage& image);

class TestImageWindow : public QDialog {
    Q_OBJECT
  public:
    // `mayClose` is asked on every close request; false keeps the window open. The window
    // keeps a copy of the picture it was opened on.
    TestImageWindow(const testimage::TestImage& image, std::function<bool()> mayClose,
                    QWidget* parent = nullptr);

    void setMayClose(std::function<bool()> mayClose) { mayClose_ = std::move(mayClose); }

    // The destination the picture was last drawn to (empty before the first paint or when
    // nothing could be drawn).
    QRect lastDrawRect() const { return lastDraw_; }
    const testimage::TestImage& picture() const { return image_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    const QImage& scaledPicture(const QSize& size);

    const testimage::TestImage image_;
    std::function<bool()> mayClose_;
    QRect lastDraw_;
    // The picture is built at the first paint and scaled again only when the size changes.
    QByteArray shownDib_;
    QImage picture_;
    QImage scaled_;
};

}  // namespace q70::qt
