#include "placement.h"

#include <QEvent>
#include <QMargins>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace toolkit {

namespace {

// The frame the window manager gave the last window it framed.
QMargins g_lastFrame;

QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle && handle->isExposed() ? handle->frameMargins() : g_lastFrame;
}

void place(QWidget *window, const QRect &area, const QMargins &frame)
{
    QRect outer(QPoint(), window->size().grownBy(frame));
    outer.moveCenter(area.center());
    // The client area's own geometry: placing it is the same with every
    // window manager, whereas a position that includes the frame is only
    // honoured once the frame is known.
    window->setGeometry(QRect(outer.topLeft() + QPoint(frame.left(), frame.top()), window->size()));
}

// Centres the window again once it is exposed with its real frame, then goes.
class FramedWatcher : public QObject
{
public:
    FramedWatcher(QWidget *window, const QRect &area, const QMargins &assumed)
        : QObject(window->windowHandle()), m_window(window), m_area(area), m_assumed(assumed)
    {
        window->windowHandle()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *handle = static_cast<QWindow *>(watched);
        if (event->type() == QEvent::Hide) {
            deleteLater(); // shown again later, the window stays where it was left
        } else if (event->type() == QEvent::Expose && handle->isExposed()) {
            const QMargins frame = handle->frameMargins();
            g_lastFrame = frame;
            if (m_window && frame != m_assumed)
                place(m_window, m_area, frame);
            handle->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    QRect m_area;
    QMargins m_assumed;
};

} // namespace

void centreWindow(QWidget *window, const QRect &area)
{
    const QMargins frame = frameOf(window);
    place(window, area, frame);
    if (window->windowHandle() && !window->windowHandle()->isExposed())
        new FramedWatcher(window, area, frame);
}

} // namespace toolkit
