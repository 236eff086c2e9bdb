// What the viewer saves of a plot: the spectrum as CSV text and whole files.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

#include "fits/automation/frame.h"

namespace orlix {

// The first row of `frame` as CSV: the line "wavelength_nm,value" when `wavelengths` holds
// one wavelength per column, else "pixel,value" (pixels counted from 1), then one line per
// sample. Numbers in the shortest form that reads back as the same value, whatever the
// locale: 32-bit float samples as floats ("0.1"), wavelengths as doubles; "nan", "inf" and
// "-inf" for samples that are not finite. Lines end with LF.
std::string SpectrumCsv(const fits::Frame& frame, const std::vector<double>& wavelengths);

// Writes `bytes` as the file at `path`, whole or not at all: a temporary file in the same
// folder is renamed over `path` once complete (an existing file keeps its permissions).
// Returns "" on success, else a message naming the file and the reason.
QString SaveWhole(const QString& path, const QByteArray& bytes);

}  // namespace orlix
