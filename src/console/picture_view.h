// A decorative picture: an SVG drawn scaled proportionally and centred in the widget, optionally
// with a mirrored reflection that fades out below it (the logo).
#pragma once

#include <QSvgRenderer>
#include <QWidget>

namespace mbus::console {

class PictureView : public QWidget {
    Q_OBJECT
public:
    enum class Reflection { None, Below };

    PictureView(const QString& resource, Reflection reflection, QWidget* parent);

    // Whether the picture could be loaded.
    bool HasPicture() const { return Renderer_.isValid(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSvgRenderer Renderer_;
    Reflection Reflection_;
};

} // namespace mbus::console
