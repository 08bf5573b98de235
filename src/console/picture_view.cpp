#include "console/picture_view.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

namespace mbus::console {
namespace {

// Share of the height the reflection takes below the picture.
constexpr double kReflectionShare = 0.35;

// `size` scaled to fit `box`, keeping its proportions.
QSize FitInto(QSizeF size, QSize box) {
    if (size.isEmpty() || box.isEmpty())
        return {};
    return size.scaled(box, Qt::KeepAspectRatio).toSize();
}

} // namespace

PictureView::PictureView(const QString& resource, Reflection reflection, QWidget* parent)
    : QWidget(parent), Renderer_(resource), Reflection_(reflection) {}

void PictureView::paintEvent(QPaintEvent*) {
    if (!Renderer_.isValid())
        return;
    const bool reflected = Reflection_ == Reflection::Below;
    const int pictureHeight = reflected ? int(height() * (1.0 - kReflectionShare)) : height();
    const QSize size = FitInto(Renderer_.defaultSize(), QSize(width(), pictureHeight));
    if (size.isEmpty())
        return;

    const qreal ratio = devicePixelRatioF();
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        Renderer_.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }

    QPainter painter(this);
    const QPoint origin((width() - size.width()) / 2,
                        reflected ? pictureHeight - size.height() : (height() - size.height()) / 2);
    painter.drawPixmap(origin, picture);
    if (!reflected)
        return;

    // The mirror image, faded from 40 % to nothing over the space below the picture.
    const int reflectionHeight = height() - pictureHeight;
    QPixmap mirror(size * ratio);
    mirror.setDevicePixelRatio(ratio);
    mirror.fill(Qt::transparent);
    {
        QPainter mirrorPainter(&mirror);
        mirrorPainter.translate(0, size.height());
        mirrorPainter.scale(1, -1);
        mirrorPainter.drawPixmap(0, 0, picture);
        mirrorPainter.resetTransform();
        mirrorPainter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient fade(0, 0, 0, reflectionHeight);
        fade.setColorAt(0, QColor(0, 0, 0, 100));
        fade.setColorAt(1, QColor(0, 0, 0, 0));
        mirrorPainter.fillRect(QRect(QPoint(0, 0), size), fade);
    }
    painter.drawPixmap(QRect(origin.x(), pictureHeight, size.width(), reflectionHeight), mirror,
                       QRectF(0, 0, mirror.width(), reflectionHeight * ratio));
}

} // namespace mbus::console
