// zorvan-serve: serves a game tree over HTTP on 127.0.0.1 until killed.
//
//   zorvan-serve DIRECTORY [PORT] [PREFIX]
//
// Prints "http://127.0.0.1:PORT/PREFIX" on its first line once listening,
// so that a script can read the base URL (PORT 0 or none picks a free port).

#include "loopbackhttpserver.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() < 2 || !QFileInfo(args.at(1)).isDir()) {
        err << "usage: zorvan-serve DIRECTORY [PORT] [PREFIX]\n";
        return 2;
    }
    LoopbackHttpServer server;
    server.setRoot(args.at(1), args.size() > 3 ? args.at(3) : QStringLiteral("/game/"));
    const quint16 port = args.size() > 2 ? quint16(args.at(2).toUInt()) : 0;
    if (!server.listen(port)) {
        err << "zorvan-serve: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    QTextStream out(stdout);
    out << server.url() << Qt::endl;
    return app.exec();
}
