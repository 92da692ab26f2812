#pragma once

#include <QString>

namespace server {

// The update server's base URL as shipped.
extern const char *const kShippedBaseUrl;

// Name of the environment variable that points the launcher at another
// update server (a studio's staging host, the demo, the tests).
extern const char *const kBaseUrlVariable;

// The base URL in use: kShippedBaseUrl, or the value of kBaseUrlVariable
// when it is set to an http(s) URL. Read once per process; a "/" is added
// when the override does not end in one.
QString baseUrl();

// The installation-relative path of a server URL: the URL with every
// occurrence of the base URL removed.
QString localPathOf(const QString &url, const QString &base = baseUrl());

} // namespace server
