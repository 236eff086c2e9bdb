// In-memory stand-ins for the acquisition application's objects, for core tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "fits/automation/automation.h"
#include "fits/convert/report.h"

namespace fits::testing_fakes {

class MemoryDocument : public DataDocument {
  public:
    std::map<std::int32_t, Variant> params;
    std::vector<Frame> frames;
    int fail_at_frame = 0;  // GetFrame of this number fails
    int closes = 0;
    DocumentMetadata metadata;
    std::vector<std::vector<Frame>> region_frames;  // [frame][region], both from 0

    Variant GetParam(std::int32_t number) override {
        auto it = params.find(number);
        return it == params.end() ? Variant() : it->second;
    }
    Status Open(const std::string&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                const std::string&) override {
        return Status::Ok();
    }
    Status Refresh() override { return Status::Ok(); }
    Status GetFrame(std::int64_t n, Frame& frame) override {
        if (n == fail_at_frame || n < 1 || n > static_cast<std::int64_t>(frames.size()))
            return Status::Error("memory: frame " + std::to_string(n) + " unreadable");
        frame = frames[static_cast<std::size_t>(n - 1)];
        return Status::Ok();
    }
    Status PutFrame(std::int64_t n, const Frame& frame) override {
        if (n > static_cast<std::int64_t>(frames.size()))
            frames.resize(static_cast<std::size_t>(n));
        frames[static_cast<std::size_t>(n - 1)] = frame;
        return Status::Ok();
    }
    Status Finalize() override { return Status::Ok(); }
    Status Close() override {
        ++closes;
        return Status::Ok();
    }
    DocumentMetadata GetMetadata() override { return metadata; }
    Status GetRegionFrame(std::int64_t n, std::int32_t region, Frame& frame) override {
        if (n < 1 || n > static_cast<std::int64_t>(region_frames.size()) || region < 1 ||
            region > static_cast<std::int32_t>(region_frames[0].size()))
            return Status::Error("memory: region frame unreadable");
        frame =
            region_frames[static_cast<std::size_t>(n - 1)][static_cast<std::size_t>(region - 1)];
        return Status::Ok();
    }
};

// A memory document that also offers row-range reads, and records how it was asked.
class RangeDocument : public MemoryDocument, public RowRangeReader {
  public:
    std::int64_t reads = 0;
    std::int64_t largest_read = 0;  // bytes
    std::int64_t fail_at_row = -1;  // a read covering this row fails

    RowRangeReader* RowReader() override { return this; }
    Result<FrameLayout> Layout(std::int64_t n) override {
        if (n < 1 || n > static_cast<std::int64_t>(frames.size()))
            return Status::Error("memory: frame " + std::to_string(n) + " unreadable");
        const Frame& f = frames[static_cast<std::size_t>(n - 1)];
        return FrameLayout{f.Type(), f.Columns(), f.Rows()};
    }
    Status ReadRows(std::int64_t n, std::int64_t first, std::int64_t count,
                    std::span<std::uint8_t> out) override {
        ++reads;
        largest_read = std::max(largest_read, static_cast<std::int64_t>(out.size()));
        auto layout = Layout(n);
        if (!layout) return layout.status();
        const Frame& f = frames[static_cast<std::size_t>(n - 1)];
        const std::int64_t row = f.Columns() * ElementSize(f.Type());
        if (first < 0 || count < 0 || first + count > f.Rows() ||
            static_cast<std::int64_t>(out.size()) != count * row)
            return Status::Error("memory: rows asked for do not fit the frame or the buffer");
        if (fail_at_row >= first && fail_at_row < first + count)
            return Status::Error("memory: row " + std::to_string(fail_at_row) + " unreadable");
        std::memcpy(out.data(), f.Bytes().data() + first * row, out.size());
        return Status::Ok();
    }
};

class MemoryExperiment : public Experiment {
  public:
    std::map<std::int32_t, Variant> params;
    Variant GetParam(std::int32_t number) override {
        auto it = params.find(number);
        return it == params.end() ? Variant() : it->second;
    }
    Status Start(DataDocument&) override { return Status::Ok(); }
    Status Wait() override { return Status::Ok(); }
};

class MemoryFactory : public AutomationFactory {
  public:
    std::map<std::int32_t, Variant> experiment_params = {
        {exp_param::kExposure, 1.0}, {exp_param::kFrames, 1}, {exp_param::kDataType, 6},
        {exp_param::kColumns, 512},  {exp_param::kRows, 512}, {exp_param::kFloatFlag, false}};
    int experiments = 0;
    std::unique_ptr<DataDocument> NewDataDocument() override {
        return std::make_unique<MemoryDocument>();
    }
    std::unique_ptr<Experiment> NewExperiment() override {
        ++experiments;
        auto e = std::make_unique<MemoryExperiment>();
        e->params = experiment_params;
        return e;
    }
};

class RecordingReporter : public Reporter {
  public:
    std::vector<std::string> boxes, warnings;
    void MessageBox(const std::string& text, const std::string& caption) override {
        boxes.push_back(caption + ": " + text);
    }
    void Warning(const std::string& text) override { warnings.push_back(text); }
};

}  // namespace fits::testing_fakes
