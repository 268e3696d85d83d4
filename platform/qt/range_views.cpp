// The progress bar and the slider.
#include <QProgressBar>
#include <QSlider>

#include <algorithm>

#include "platform/qt/control_kinds.h"
#include "platform/win32/input.h"

namespace twqt {
namespace {

// A trackbar's page (a click beside the thumb, Page Up and Down) is a fifth
// of its range.
constexpr int kPagesPerRange = 5;

class ProgressView : public ControlView {
 public:
  ProgressView(HWND window, QProgressBar* bar) : ControlView(window, bar), bar_(bar) {}

 protected:
  // An empty range would turn Qt's bar into a busy indicator; the window
  // system's bar is simply empty then.
  void ShowState(const twplat::WindowState& state) override {
    if (state.rangeMax > state.rangeMin) {
      bar_->setRange(state.rangeMin, state.rangeMax);
      bar_->setValue(std::clamp(state.position, state.rangeMin, state.rangeMax));
    } else {
      bar_->setRange(0, 1);
      bar_->setValue(0);
    }
  }

 private:
  QProgressBar* bar_;
};

// While the user holds the thumb, reports of earlier steps would pull it
// back; the slider shows the window system's position again on release.
class SliderView : public ControlView {
 public:
  SliderView(HWND window, QSlider* slider) : ControlView(window, slider), slider_(slider) {
    QObject::connect(slider_, &QSlider::valueChanged, context(), [this](int position) {
      if (!twplat::MoveSlider(handle(), position)) {
        Revert();
      }
    });
    QObject::connect(slider_, &QSlider::sliderReleased, context(), [this] { Revert(); });
  }

 protected:
  void ShowState(const twplat::WindowState& state) override {
    slider_->setRange(state.rangeMin, state.rangeMax);
    slider_->setPageStep(std::max(1, (state.rangeMax - state.rangeMin) / kPagesPerRange));
    if (!slider_->isSliderDown()) {
      slider_->setValue(state.position);
    }
  }

 private:
  QSlider* slider_;
};

}  // namespace

std::unique_ptr<ControlView> MakeProgressView(const twplat::WindowDescription& control,
                                              const QRect& place, QWidget* dialog) {
  auto* bar = new QProgressBar(dialog);
  bar->setGeometry(place);
  bar->setTextVisible(false);
  bar->setOrientation(Qt::Horizontal);
  return std::make_unique<ProgressView>(control.handle, bar);
}

std::unique_ptr<ControlView> MakeSliderView(const twplat::WindowDescription& control,
                                            const QRect& place, QWidget* dialog) {
  auto* slider = new QSlider(Qt::Horizontal, dialog);
  slider->setGeometry(place);
  slider->setTickPosition(QSlider::NoTicks);
  slider->setSingleStep(1);
  slider->setFocusPolicy((control.style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::ClickFocus);
  return std::make_unique<SliderView>(control.handle, slider);
}

}  // namespace twqt
