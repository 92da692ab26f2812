#include "platform/browser.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {

bool openInBrowser(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace platform
