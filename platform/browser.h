#pragma once

class QUrl;

namespace platform {

// The desktop's default handler for a URL's scheme (the browser). The
// launcher uses the desktop's; tests install one that only records.
class Browser
{
public:
    virtual ~Browser() = default;
    // The result is the handler's; the launcher does not wait for it.
    virtual bool open(const QUrl &url) = 0;
};

// The browser in use: the desktop's unless a test installed another.
Browser &browser();

// Installs `replacement` (not owned); nullptr restores the desktop's.
void setBrowser(Browser *replacement);

inline bool openInBrowser(const QUrl &url)
{
    return browser().open(url);
}

} // namespace platform
