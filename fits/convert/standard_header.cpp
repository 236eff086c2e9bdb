#include "fits/convert/standard_header.h"

#include <ctime>

#include "fits/automation/data_types.h"
#include "fits/convert/type_codes.h"
#include "fits/input/header_reader.h"

namespace fits {

std::string TodayIsoDate() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

void AddPrimaryData(HeaderContext& context, DataDocument* document) {
    std::unique_ptr<Experiment> experiment;
    auto get = [&](std::int32_t doc_number, std::int32_t exp_number) {
        if (document) return document->GetParam(doc_number);
        if (!experiment) experiment = context.factory.NewExperiment();
        return experiment ? experiment->GetParam(exp_number) : Variant();
    };
    // All four values are fetched, in this order, before any card is built.
    const std::int32_t code =
        get(doc_param::kDataType, exp_param::kDataType).ToInt32().value_or(type_code::kUnsupported);
    const std::string columns = get(doc_param::kColumns, exp_param::kColumns).ToText();
    const std::string rows = get(doc_param::kRows, exp_param::kRows).ToText();
    const std::string frames = get(doc_param::kFrames, exp_param::kFrames).ToText();

    std::string text = context.store.Text();
    InsertCard(text, "simple", "t", ValueType::kLogical, "", -1);
    InsertCard(text, "bitpix", TypeToBitpix(code, context.factory), ValueType::kInteger,
               TypeToName(code, context.factory), -1);
    InsertCard(text, "naxis", "3", ValueType::kInteger, "x, y, z", -1);
    InsertCard(text, "naxis1", columns, ValueType::kInteger, "number of columns", -1);
    InsertCard(text, "naxis2", rows, ValueType::kInteger, "number of rows", -1);
    InsertCard(text, "naxis3", frames, ValueType::kInteger, "number of frames", -1);
    SetHeaderText(context.store, text);
}

void AddOrlixData(HeaderContext& context, DataDocument* document) {
    std::string exposure;
    if (document) {
        exposure = document->GetParam(doc_param::kExposure).ToText();
    } else if (auto experiment = context.factory.NewExperiment()) {
        exposure = experiment->GetParam(exp_param::kExposure).ToText();
    }
    std::string text = context.store.Text();
    if (!document) {
        InsertCard(text, "date-obs", context.today(), ValueType::kString, "date of data aquisition",
                   -1);
        InsertCard(text, "date", context.today(), ValueType::kString, "date file was written", -1);
    }
    // A data file that states no exposure in effect answers none: no card (its document's
    // notice says why), never a setting the file marks unused.
    if (!document || !exposure.empty())
        InsertCard(text, "exptime", exposure, ValueType::kFloating, "exposure time - seconds", -1);
    SetHeaderText(context.store, text);
}

std::vector<std::string> BuildStandardHeader(HeaderContext& context, DataDocument* document,
                                             const HeaderSource& added) {
    context.store.ReplaceText("");
    AddPrimaryData(context, document);
    AddOrlixData(context, document);
    if (added.path.empty()) return {};
    return *AppendHeaderSource(context.store, added);
}

Result<std::vector<std::string>> BuildStandardHeader(HeaderContext& context, DataDocument* document,
                                                     const std::string& addFile,
                                                     std::vector<std::string>* warnings) {
    HeaderSource added{addFile, {}};
    if (!addFile.empty()) {
        auto text = ReadHeaderTemplate(addFile, warnings);
        if (!text) return text.status();
        added.text = std::move(*text);
    }
    return BuildStandardHeader(context, document, added);
}

}  // namespace fits
