#include "manifestxml.h"

#include "updater/paths.h"

#include <tinyxml2.h>

namespace publish {

QByteArray manifestXml(const QList<PublishedFile> &files)
{
    tinyxml2::XMLDocument document;
    document.InsertEndChild(document.NewDeclaration());
    tinyxml2::XMLElement *root = document.NewElement("Files");
    document.InsertEndChild(root);
    for (const PublishedFile &file : files) {
        tinyxml2::XMLElement *element = document.NewElement("File");
        element->SetAttribute("Name", file.relative.section(QLatin1Char('/'), -1).toUtf8().constData());
        element->SetAttribute("Path", (QString::fromLatin1(paths::kServerGameDir) + file.relative).toUtf8().constData());
        element->SetAttribute("MD5", file.md5.constData());
        element->SetAttribute("SHA1", file.sha1.constData());
        element->SetAttribute("Size", QByteArray::number(file.size).constData());
        element->SetAttribute("SHA256", file.sha256.constData());
        root->InsertEndChild(element);
    }
    // The printer escapes the attribute values.
    tinyxml2::XMLPrinter printer;
    document.Print(&printer);
    return QByteArray(printer.CStr(), printer.CStrSize() - 1);
}

} // namespace publish
