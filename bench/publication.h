#pragma once

#include <QProcess>
#include <QString>

namespace bench {

// nginx on 127.0.0.1 serving `root` below "/game/" with the studio's
// configuration (tools/server/nginx-update.conf), for the life of the
// object; its files in `workDir`. Not started where nginx is not installed.
class Nginx
{
public:
    Nginx(const QString &workDir, const QString &root);
    ~Nginx();
    bool running() const { return m_process.state() == QProcess::Running; }
    QString url() const { return m_url; }

private:
    QProcess m_process;
    QString m_url;
};

// Seconds of the launcher's first install of the publication at `base`
// into the empty directory `intoDir`: version file, manifest, then every
// listed file one after another, in a process of its own.
double launcherFirstInstall(const QString &base, const QString &intoDir);

// Child mode of the above, run in the installation directory.
int firstInstall(const QString &base);

// Seconds of "zorvan-publish --verify" of the publication at `base`, which
// must find it clean.
double publisherVerify(const QString &base);

} // namespace bench
