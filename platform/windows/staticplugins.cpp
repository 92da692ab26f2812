// The plug-ins a statically linked Qt needs on Windows: the native platform
// and, for tests and machines without a desktop, the offscreen one; the .ico
// reader for the application icon; the native widget style.
#include <QtPlugin>

Q_IMPORT_PLUGIN(QWindowsIntegrationPlugin)
Q_IMPORT_PLUGIN(QOffscreenIntegrationPlugin)
Q_IMPORT_PLUGIN(QICOPlugin)
Q_IMPORT_PLUGIN(QWindowsVistaStylePlugin)
