#pragma once

class QWidget;
class SettingsStore;

// The window's place and size in twips (1/1440 inch, at the screen's logical DPI), as the
// settings keep them under Left, Top, Width and Height.
class WindowPlacement final
{
public:
    explicit WindowPlacement(QWidget& window) : m_window(window) {}
    WindowPlacement(const WindowPlacement&) = delete;
    WindowPlacement& operator=(const WindowPlacement&) = delete;

    static int toPixels(int twips, double twipsPerPixel);

    double twipsPerPixel() const;
    int leftTwips() const;
    int topTwips() const;
    int widthTwips() const;
    int heightTwips() const;
    void setGeometryTwips(int left, int top, int width, int height);

    // The stored place and size, brought whole onto the screen. Nothing stored (a first start)
    // gives the first size, centred; an unreadable value keeps what the window has.
    void restore(const SettingsStore& store, int firstWidth, int firstHeight);
    // Once the window has its frame (the desktop adds it when the window is first shown), brings
    // it whole onto the screen again.
    void keepOnScreen();
    // Stores the place and size, unless the window is minimised, maximised or full screen.
    void save(SettingsStore& store) const;

private:
    int twips(int index, int pixels) const;
    int pixelsFor(int index, int twips);

    struct Remembered
    {
        int twips = 0;
        int pixels = -1;
    };
    QWidget& m_window;
    Remembered m_remembered[4]; // left, top, width, height
};
