#include "platform/browser.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {
namespace {

class DesktopBrowser : public Browser
{
public:
    bool open(const QUrl &url) override { return QDesktopServices::openUrl(url); }
};

Browser *g_replacement = nullptr;

} // namespace

Browser &browser()
{
    static DesktopBrowser desktop;
    return g_replacement ? *g_replacement : desktop;
}

void setBrowser(Browser *replacement)
{
    g_replacement = replacement;
}

} // namespace platform
