#include "shell/WindowPlacement.h"

#include "settings/SettingKeys.h"
#include "settings/SettingsStore.h"
#include "views/ProxyGrid.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

int WindowPlacement::toPixels(int twips, double twipsPerPixel)
{
    return int(std::lround(twips / twipsPerPixel));
}

double WindowPlacement::twipsPerPixel() const
{
    return ProxyGrid::twipsPerPixel(&m_window);
}

// A length set in twips reads back unchanged while the window keeps the pixel length it became,
// so stored places and sizes do not drift by a pixel's rounding at every start.
int WindowPlacement::twips(int index, int pixels) const
{
    const Remembered& r = m_remembered[index];
    if (r.pixels == pixels)
        return r.twips;
    return int(std::lround(pixels * twipsPerPixel()));
}

int WindowPlacement::pixelsFor(int index, int twips)
{
    const int px = toPixels(twips, twipsPerPixel());
    m_remembered[index] = {twips, px};
    return px;
}

int WindowPlacement::leftTwips() const
{
    return twips(0, m_window.pos().x());
}

int WindowPlacement::topTwips() const
{
    return twips(1, m_window.pos().y());
}

int WindowPlacement::widthTwips() const
{
    return twips(2, m_window.width());
}

int WindowPlacement::heightTwips() const
{
    return twips(3, m_window.height());
}

void WindowPlacement::setGeometryTwips(int left, int top, int width, int height)
{
    m_window.move(pixelsFor(0, left), pixelsFor(1, top));
    m_window.resize(pixelsFor(2, width), pixelsFor(3, height));
}

void WindowPlacement::restore(const SettingsStore& store, int firstWidth, int firstHeight)
{
    const double tpp = twipsPerPixel();
    const QScreen* screen = m_window.screen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    // Stored as single-precision numbers; a hand-edited giant is kept within reach of the screen.
    // A text that is not a number leaves the value as it is.
    auto restore = [&store](const Setting::Key<double>& key, const QString& absent, int& twips) {
        if (const std::optional<double> value = key.from(store.read(key, absent)))
            twips = int(std::lround(std::clamp(double(float(*value)), -1e7, 1e7)));
    };
    int width = widthTwips();
    int height = heightTwips();
    restore(Setting::Width, QString::number(firstWidth), width);
    restore(Setting::Height, QString::number(firstHeight), height);
    // The window opens whole on the screen: no larger than it, and a place off it (a screen
    // since unplugged, a hand-edited number) is brought back. With no place stored, it is
    // centred.
    const QSize frame = m_window.frameGeometry().size() - m_window.size();
    const int roomW = std::max(0, int((area.width() - frame.width()) * tpp));
    const int roomH = std::max(0, int((area.height() - frame.height()) * tpp));
    width = std::min(width, roomW);
    height = std::min(height, roomH);
    const int areaLeft = int(std::lround(area.left() * tpp));
    const int areaTop = int(std::lround(area.top() * tpp));
    int left = leftTwips();
    int top = topTwips();
    restore(Setting::Left, QString::number(areaLeft + (roomW - width) / 2), left);
    restore(Setting::Top, QString::number(areaTop + (roomH - height) / 2), top);
    left = std::clamp(left, areaLeft, areaLeft + roomW - width);
    top = std::clamp(top, areaTop, areaTop + roomH - height);
    setGeometryTwips(left, top, width, height);
}

void WindowPlacement::keepOnScreen()
{
    const QScreen* screen = m_window.screen();
    if (!screen || m_window.isMaximized() || m_window.isFullScreen())
        return;
    const QRect area = screen->availableGeometry();
    const QRect frame = m_window.frameGeometry();
    const QSize margins = frame.size() - m_window.size();
    const QSize size = m_window.size().boundedTo(area.size() - margins);
    const QPoint place(
        std::clamp(frame.x(), area.left(),
                   std::max(area.left(), area.right() + 1 - size.width() - margins.width())),
        std::clamp(frame.y(), area.top(),
                   std::max(area.top(), area.bottom() + 1 - size.height() - margins.height())));
    if (size != m_window.size())
        m_window.resize(size);
    if (place != frame.topLeft())
        m_window.move(place);
}

void WindowPlacement::save(SettingsStore& store) const
{
    const Qt::WindowStates state = m_window.windowState();
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    store.write(Setting::Left, QString::number(leftTwips()));
    store.write(Setting::Top, QString::number(topTwips()));
    store.write(Setting::Width, QString::number(widthTwips()));
    store.write(Setting::Height, QString::number(heightTwips()));
}
