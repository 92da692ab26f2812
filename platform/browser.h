#pragma once

class QUrl;

namespace platform {

// Hands `url` to the desktop's default handler for its scheme (the browser).
// The result is the handler's; the launcher does not wait for it.
bool openInBrowser(const QUrl &url);

} // namespace platform
