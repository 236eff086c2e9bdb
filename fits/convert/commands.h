// The converter's commands without a window: Convert SPE File(s), Run Experiment and Save
// Header to File. The window and fits-convert both run them; failures are collected, never
// thrown, and a batch goes on with the next file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fits/convert/fits_writer.h"
#include "fits/convert/metadata_cards.h"
#include "fits/convert/standard_header.h"

namespace fits {

struct CommandReport {
    std::vector<std::string> written;   // FITS files written
    std::vector<std::string> failures;  // one line per failure, naming the file and reason
    bool cancelled = false;
    bool ok() const { return failures.empty() && !cancelled; }
};

struct ConvertOptions {
    bool standard = true;         // rebuild the Standard header for each file
    std::string addFile;          // header file appended to a Standard header
    std::string outputDir;        // empty: each FITS file beside its SPE file
    std::string customName = {};  // where a Custom header came from, for messages ("" : the window)
};

// Called after each file with (files done, files in all); returning false stops the batch
// after the current file.
using FileProgress = std::function<bool(std::size_t, std::size_t)>;

// The FITS path for an SPE path: ChangeExtension(path, "fit"), or that name in outputDir.
std::string FitsPathFor(const std::string& spePath, const std::string& outputDir);

// `science` adds to the Standard header; a file whose regions of interest differ in width
// converts only with its `regions` choice and the Standard header.
CommandReport ConvertFiles(HeaderContext& context, Reporter& reporter,
                           const std::vector<std::string>& paths, const ConvertOptions& options,
                           const FileProgress& progress = {}, const ScienceOptions& science = {});

// Acquires with the current experiment settings and writes the data as FITS beside the data
// file the application made.
CommandReport RunExperiment(HeaderContext& context, Reporter& reporter, bool standard,
                            const std::string& addFile, const ScienceOptions& science = {});

// Writes the header text alone: as a FITS header block when the lower-case name contains
// ".fit", otherwise as the text with its CR LF line ends. Replaces the file only when the
// new one is complete.
Status SaveHeader(const std::string& headerText, const std::string& path);

}  // namespace fits
