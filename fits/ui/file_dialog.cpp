#include "fits/ui/file_dialog.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

#include "fits/ui/paths.h"

namespace fits::ui {

std::string TranslateFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
        parts.push_back(filter.substr(start, bar - start));
    parts.push_back(filter.substr(start));
    std::string out;
    // Pairs of description and pattern; the description's "(*.*)" becomes "(*)".
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string name = parts[i];
        if (auto all = name.find("(*.*)"); all != std::string::npos) name.replace(all, 5, "(*)");
        if (!out.empty()) out += ";;";
        out += name;
    }
    return out;
}

namespace {

QFileDialog::Options Options(std::uint32_t flags) {
    QFileDialog::Options options;
    if (!(flags & OFN_OVERWRITEPROMPT)) options |= QFileDialog::DontConfirmOverwrite;
    return options;
}

}  // namespace

namespace {

// Runs a Qt file dialog; the chosen paths, or none when cancelled, and the chosen filter's
// number (from 1) in `filter_index`.
QStringList RunDialog(const std::string& filter, std::uint32_t flags, const std::string& folder,
                      const std::string& title, bool save, int& filter_index) {
    QFileDialog dialog(nullptr, QString::fromStdString(title),
                       QFile::decodeName(QByteArray::fromStdString(folder)),
                       QString::fromStdString(TranslateFilter(filter)));
    dialog.setObjectName("dlgFileName");
    dialog.setOptions(Options(flags));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save)
        dialog.setFileMode(QFileDialog::AnyFile);
    else if (flags & OFN_ALLOWMULTISELECT)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else if (flags & OFN_FILEMUSTEXIST)
        dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return {};
    filter_index =
        std::max(0, static_cast<int>(dialog.nameFilters().indexOf(dialog.selectedNameFilter()))) +
        1;
    // Several names typed in quotes: each is taken as typed, a full path as its own file (the
    // dialog would look for every name in its folder).
    if (const auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
        edit && !save && (flags & OFN_ALLOWMULTISELECT)) {
        static const QRegularExpression kQuoted("\"([^\"]+)\"");
        QStringList typed;
        for (auto it = kQuoted.globalMatch(edit->text()); it.hasNext();) {
            const QString name = it.next().captured(1);
            typed << (QFileInfo(name).isAbsolute() ? name
                                                   : dialog.directory().absoluteFilePath(name));
        }
        if (typed.size() > 1) return typed;
    }
    return dialog.selectedFiles();
}

}  // namespace

bool QtFileDialog::ShowOpen(const std::string& filter, std::uint32_t flags) {
    const QStringList files =
        RunDialog(filter, flags, initial_folder_, title_, false, filter_index_);
    if (files.size() <= 1) {
        file_name_ = files.isEmpty() ? std::string() : PathBytes(files.front());
        return true;
    }
    // The multiple-selection form: folder, NUL, names separated by NULs. A file typed with a
    // full path in another folder keeps its path, so that it names its own file.
    const QString folder = QFileInfo(files.front()).absolutePath();
    std::string result = PathBytes(folder);
    for (const QString& f : files) {
        result += '\0';
        const QFileInfo info(f);
        result +=
            PathBytes(info.absolutePath() == folder ? info.fileName() : info.absoluteFilePath());
    }
    file_name_ = result;
    return true;
}

bool QtFileDialog::ShowSave(const std::string& filter, std::uint32_t flags) {
    const QStringList files =
        RunDialog(filter, flags, initial_folder_, title_, true, filter_index_);
    file_name_ = files.isEmpty() ? std::string() : PathBytes(files.front());
    return true;
}

std::vector<std::string> ListPickedFiles(FileDialog& dialog) {
    const std::string s = dialog.FileName();
    if (s.empty()) return {};
    auto nul = s.find('\0');
    if (nul == std::string::npos) return {s};
    const std::string folder = s.substr(0, nul);
    std::vector<std::string> files;
    for (std::size_t start = nul + 1;;) {
        auto next = s.find('\0', start);
        std::string name =
            s.substr(start, next == std::string::npos ? std::string::npos : next - start);
        if (!name.empty()) files.push_back(name.front() == '/' ? name : folder + "/" + name);
        if (next == std::string::npos) break;
        start = next + 1;
    }
    dialog.SetFileName("");
    dialog.SetInitialFolder(folder);
    return files;
}

}  // namespace fits::ui
