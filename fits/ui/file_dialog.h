// The window's one file dialog, behind a seam: the program passes the Qt dialog, tests pass
// one that returns the paths they choose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fits::ui {

// Option flags with the values of the common file dialog.
enum DialogFlags : std::uint32_t {
    OFN_HIDEREADONLY = 0x4,
    OFN_OVERWRITEPROMPT = 0x2,
    OFN_PATHMUSTEXIST = 0x800,
    OFN_FILEMUSTEXIST = 0x1000,
    OFN_ALLOWMULTISELECT = 0x200,
    OFN_EXPLORER = 0x80000,
    OFN_LONGNAMES = 0x200000,
};

class FileDialog {
  public:
    virtual ~FileDialog() = default;
    // Shows the dialog with a filter in the "Name (*.x)|*.x|..." form. Returns false when the
    // dialog cannot be shown. Afterwards FileName() is the choice: "" when cancelled, a full
    // path, or for a multiple selection the folder, NUL, and the names separated by NULs.
    virtual bool ShowOpen(const std::string& filter, std::uint32_t flags) = 0;
    virtual bool ShowSave(const std::string& filter, std::uint32_t flags) = 0;

    const std::string& FileName() const { return file_name_; }
    // The filter chosen when the dialog closed, counted from 1 as the filter string's pairs.
    int FilterIndex() const { return filter_index_; }
    void SetFilterIndex(int index) { filter_index_ = index; }
    void SetFileName(const std::string& name) { file_name_ = name; }
    const std::string& InitialFolder() const { return initial_folder_; }
    void SetInitialFolder(const std::string& folder) { initial_folder_ = folder; }
    // The title of the next dialog: the command that shows it ("Display FITS File").
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }

  protected:
    std::string file_name_;
    int filter_index_ = 1;
    std::string initial_folder_;
    std::string title_;
};

// "A (*.a)|*.a|All Files (*.*)|*.*" as Qt name filters: "A (*.a);;All Files (*)".
std::string TranslateFilter(const std::string& filter);

// The Qt dialog.
class QtFileDialog : public FileDialog {
  public:
    bool ShowOpen(const std::string& filter, std::uint32_t flags) override;
    bool ShowSave(const std::string& filter, std::uint32_t flags) override;
};

// The picked-file list from the dialog's file name; after a multiple selection clears the
// name and sets the initial folder to the folder. A name that is an absolute path (a file
// typed with its full path, in another folder) is taken as it stands.
std::vector<std::string> ListPickedFiles(FileDialog& dialog);

}  // namespace fits::ui
