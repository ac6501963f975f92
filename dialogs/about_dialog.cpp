#include "about_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSvgRenderer>

namespace tavro {
namespace {

// The picture drawn at the screen's pixel density, so it stays sharp when scaled.
QPixmap RenderPicture(QSize size, qreal pixelRatio)
{
    QPixmap pixmap(size * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::white);
    QSvgRenderer renderer(QStringLiteral(":/images/about.svg"));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : InformationDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    m_picture = new QLabel(this);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    m_picture->setPixmap(RenderPicture(kPictureSize, screen ? screen->devicePixelRatio() : 1.0));
    m_picture->setFixedSize(kPictureSize);
    m_picture->move(0, 0);
    // The picture takes no mouse presses of its own: they reach the box.
    m_picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(kPictureSize);
}

void AboutDialog::mousePressEvent(QMouseEvent* event)
{
    // Either button closes the box, as OK would.
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        accept();
    else
        QDialog::mousePressEvent(event);
}

} // namespace tavro
