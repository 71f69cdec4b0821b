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

void WindowPlacement::restore(const SettingsStore& store, int designWidth, int designHeight)
{
    const double tpp = twipsPerPixel();
    const QScreen* screen = m_window.screen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const double screenW = area.width() * tpp;
    const double screenH = area.height() * tpp;
    // Stored as single-precision numbers; a hand-edited giant is kept within reach of the screen.
    // A text that is not a number leaves the value as designed.
    auto restore = [&store](const Setting::Key<double>& key, const QString& absent, int& twips) {
        if (const std::optional<double> value = key.from(store.read(key, absent)))
            twips = int(std::lround(std::clamp(double(float(*value)), -1e7, 1e7)));
    };
    int left = leftTwips();
    int top = topTwips();
    int width = widthTwips();
    int height = heightTwips();
    restore(Setting::Left, QString::number(screenW / 2 - designWidth / 2.0), left);
    restore(Setting::Top, QString::number(screenH / 2 - designHeight / 2.0), top);
    restore(Setting::Width, Setting::defaultText(Setting::Width), width);
    restore(Setting::Height, Setting::defaultText(Setting::Height), height);
    setGeometryTwips(left, top, width, height);
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
