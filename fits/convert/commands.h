// The converter's commands without a window: Convert SPE File(s), Run Experiment and Save
// Header to File. The window and fits-convert both run them; failures are collected, never
// thrown, and a batch goes on with the next file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fits/convert/fits_writer.h"
#include "fits/convert/metadata_cards.h"
#include "fits/convert/standard_header.h"

namespace fits {

// What became of one input of a conversion.
struct FileOutcome {
    enum class Kind { kConverted, kUpToDate, kFailed, kNotReached };
    std::string input, output;
    Kind kind = Kind::kNotReached;
    std::string reason = {};  // the failure line, naming the file; converted: its warnings
    std::int64_t bytes = 0;   // of the FITS file written
};

struct CommandReport {
    std::vector<std::string> written;   // FITS files written
    std::vector<std::string> failures;  // one line per failure, naming the file and reason
    std::vector<FileOutcome> files;     // Convert: one per input, in the order given
    std::size_t up_to_date = 0;         // inputs whose FITS file was already up to date
    std::string data_file;              // Run Experiment: the SPE file of the acquisition
    bool cancelled = false;
    bool ok() const { return failures.empty() && !cancelled; }
};

struct ConvertOptions {
    bool standard = true;         // rebuild the Standard header for each file
    std::string addFile;          // header file appended to a Standard header
    std::string outputDir;        // empty: each FITS file beside its SPE file
    std::string customName = {};  // where a Custom header came from, for messages ("" : the window)
    // The FITS path of each input (its folders made as needed); empty: FitsPathFor each (with
    // `compress`).
    std::vector<std::string> targets = {};
    // Convert only inputs whose FITS file is missing or older than the SPE file; nothing else
    // is opened for writing.
    bool update = false;
    // Tile-compress each FITS file (lossless; see CompressFitsFile), named NAME.fit.fz.
    bool compress = false;
    // Files converted at a time; above 1 each worker has an application of its own from
    // `newFactory` (without one the files are converted one at a time).
    int jobs = 1;
    std::function<std::unique_ptr<AutomationFactory>()> newFactory = {};
    // Called after each file (from any worker, one call at a time).
    std::function<void(const FileOutcome&)> finished = {};
    // Told of the file being written (by the worker writing it): the input's index, and its
    // bytes written and in all. Returning false stops the batch: the file being written is
    // left as it was, and counts as not reached.
    std::function<bool(std::size_t, std::int64_t, std::int64_t)> writing = {};
    // Runs work that tells no progress and touches nothing but files (compressing input i's
    // finished FITS file), returning when it is done; a window runs it on a thread of its own
    // and keeps painting meanwhile, and sets the flag given when the user asks to stop (the
    // work then keeps nothing). Without one the work runs in place.
    std::function<void(std::size_t, const std::function<void()>&, std::atomic<bool>&)> aside = {};
};

// Called after each file with (files done, files in all); returning false stops the batch
// after the current file.
using FileProgress = std::function<bool(std::size_t, std::size_t)>;

// The extension of a converted file: "fit", or "fit.fz" for a tile-compressed one (the name
// FITS tools expect for such files). Every name a conversion gives comes from here.
std::string FitsExtension(bool compressed);

// The FITS path for an SPE path: ChangeExtension(path, FitsExtension(compressed)), or that
// name in outputDir.
std::string FitsPathFor(const std::string& spePath, const std::string& outputDir,
                        bool compressed = false);

// Why a file a command writes besides its FITS files (a report, a saved header; `what` names
// it) must not be written at `path`, by the rule FITS targets follow: a path that names
// nothing, one of the files the command reads (inputs, header sources) or one it writes
// (`outputs`), by any spelling or link, is refused. Empty when it may be written.
std::string SideOutputProblem(const std::string& what, const std::string& path,
                              const std::vector<std::string>& reads,
                              const std::vector<std::string>& outputs);

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
// The same in the form asked for: a FITS header block when `block`, else the text.
Status SaveHeaderAs(const std::string& headerText, const std::string& path, bool block);

}  // namespace fits
