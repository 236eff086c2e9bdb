// Paths between the window and the file system: the bytes the file system gave, never passed
// through Latin-1, so that any name (UTF-8 on this system) reaches the file and shows as typed.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace fits::ui {

inline std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString PathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace fits::ui
