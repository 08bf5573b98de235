// A push button that shows one image of an image list beside its caption, chosen by index (the
// port button switches between its open and closed images this way).
#pragma once

#include <QPushButton>

namespace mbus::console {

class ImageList;

class ImageButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(int ImageIndex READ ImageIndex WRITE SetImageIndex)
public:
    // `images` is borrowed and must outlive the button (both belong to the main window).
    ImageButton(const ImageList& images, QWidget* parent);

    int ImageIndex() const { return ImageIndex_; }
    void SetImageIndex(int index);

private:
    const ImageList& Images_;
    int ImageIndex_ = -1;
};

} // namespace mbus::console
