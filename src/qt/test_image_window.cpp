#include "qt/test_image_window.hpp"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "qt/dialog_metrics.hpp"
#include "window/dialog_template.hpp"

namespace q70::qt {

QImage toQImage(const testimage::TestImage& image) {
    const std::uint32_t width = image.bitmapWidth();
    const std::uint32_t height = image.bitmapHeight();
    const std::uint32_t stride = image.stride();
    const auto dib = image.dib();
    const auto bits = image.bits();
    if (!image.hasBitmap() || width == 0 || height == 0 || stride == 0 ||
        dib.size() < testimage::kDibHeadSize ||
        bits.size() < static_cast<std::size_t>(stride) * height) {
        return {};
    }
    QImage out(static_cast<int>(width), static_cast<int>(height), QImage::Format_Mono);
    if (out.isNull()) return {};
    // The bitmap's own colour table (blue, green, red, reserved), as the platform draws it.
    const std::uint8_t* table = dib.data() + testimage::kInfoHeaderSize;
    out.setColorTable({qRgb(table[2], table[1], table[0]), qRgb(table[6], table[5], table[4])});
    const std::size_t rowBytes = std::min<std::size_t>(out.bytesPerLine(), stride);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::memcpy(out.scanLine(static_cast<int>(y)),
                    bits.data() + static_cast<std::size_t>(height - 1 - y) * stride, rowBytes);
    }
    return out;
}

TestImageWindow::TestImageWindow(const testimage::TestImage& image, std::function<bool()> mayClose,
                                 QWidget* parent)
    : QDialog(parent), image_(image), mayClose_(std::move(mayClose)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(window::kTestImageCaption.data(),
                                     static_cast<qsizetype>(window::kTestImageCaption.size())));
    setSizeGripEnabled(false);
    const QFont font =
        dialogFont(QString::fromUtf8(window::kTestImageFontName.data(),
                                     static_cast<qsizetype>(window::kTestImageFontName.size())),
                   window::kTestImageFontSize);
    setFont(font);
    resize(toQSize(window::toPixels(window::kTestImageDialogSize, baseUnits(font))));
}

const QImage& TestImageWindow::scaledPicture(const QSize& size) {
    const auto dib = image_.dib();
    const bool changed =
        static_cast<std::size_t>(shownDib_.size()) != dib.size() ||
        (!dib.empty() && std::memcmp(shownDib_.constData(), dib.data(), dib.size()) != 0);
    if (changed) {
        shownDib_ = QByteArray(reinterpret_cast<const char*>(dib.data()),
                               static_cast<qsizetype>(dib.size()));
        // Smooth scaling averages only in colour formats; a 1-bit picture would be sampled
        // and lose its thin lines.
        picture_ = toQImage(image_).convertToFormat(QImage::Format_RGB32);
        scaled_ = QImage();
    }
    if (scaled_.size() != size && !picture_.isNull()) {
        // Averaging keeps thin lines visible when the picture is shrunk to the window, as
        // grey instead of gaps.
        scaled_ = picture_.size() == size
                      ? picture_
                      : picture_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return scaled_;
}

void TestImageWindow::paintEvent(QPaintEvent* /*event*/) {
    lastDraw_ = QRect();
    const auto where = testimage::drawGeometry(image_.bitmapWidth(), image_.bitmapHeight(), 0, 0,
                                               width(), height());
    if (!where) return;
    const QRect target(where->x, where->y, where->width, where->height);
    const QImage& picture = scaledPicture(target.size());
    if (picture.isNull()) return;
    QPainter painter(this);
    painter.drawImage(target.topLeft(), picture);
    lastDraw_ = target;
}

void TestImageWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The picture follows the height: everything moves on any size change.
    update();
}

void TestImageWindow::closeEvent(QCloseEvent* event) {
    if (mayClose_ && !mayClose_()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TestImageWindow::keyPressEvent(QKeyEvent* event) {
    // Esc closes through the save question like the close box, so that the picture is
    // never dropped without being offered for saving.
    if (event->matches(QKeySequence::Cancel) || event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace q70::qt
