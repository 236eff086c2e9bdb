#include "orlix/viewer/spectrum_export.h"

#include <QSaveFile>
#include <charconv>
#include <cmath>
#include <type_traits>

namespace orlix {
namespace {

// The shortest text that reads back as `v` (as a T), independent of the locale.
template <class T>
void AppendNumber(std::string& out, T v) {
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(v)) {
            out += "nan";  // to_chars may give "-nan"
            return;
        }
    }
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    out.append(text, end);
}

}  // namespace

std::string SpectrumCsv(const fits::Frame& frame, const std::vector<double>& wavelengths) {
    const std::int64_t columns = frame.Rows() > 0 ? frame.Columns() : 0;
    const bool nm = columns > 0 && static_cast<std::int64_t>(wavelengths.size()) == columns;
    std::string out = nm ? "wavelength_nm,value\n" : "pixel,value\n";
    for (std::int64_t c = 0; c < columns; ++c) {
        if (nm)
            AppendNumber(out, wavelengths[static_cast<std::size_t>(c)]);
        else
            AppendNumber(out, c + 1);
        out += ',';
        const double v = frame.At(c, 0);
        if (frame.Type() == fits::ElementType::kFloat32)
            AppendNumber(out, static_cast<float>(v));
        else
            AppendNumber(out, v);
        out += '\n';
    }
    return out;
}

QString SaveWhole(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QString("Cannot write %1: %2").arg(path, file.errorString());
    return {};
}

}  // namespace orlix
