#include "console/image_button.h"

#include "console/image_list.h"

namespace mbus::console {

ImageButton::ImageButton(const ImageList& images, QWidget* parent)
    : QPushButton(parent), Images_(images) {
    setIconSize(images.ImageSize());
}

void ImageButton::SetImageIndex(int index) {
    ImageIndex_ = index;
    setIcon(Images_.Image(index));
}

} // namespace mbus::console
