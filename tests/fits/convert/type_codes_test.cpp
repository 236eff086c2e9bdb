#include "fits/convert/type_codes.h"

#include <gtest/gtest.h>

namespace fits {
namespace {

// An experiment whose floating-point flag the test sets; counts the objects made.
class FlagFactory : public AutomationFactory {
  public:
    bool floating = false;
    int experiments = 0;
    std::unique_ptr<DataDocument> NewDataDocument() override { return nullptr; }
    std::unique_ptr<Experiment> NewExperiment() override {
        ++experiments;
        struct FlagExperiment : Experiment {
            bool flag;
            explicit FlagExperiment(bool f) : flag(f) {}
            Variant GetParam(std::int32_t n) override {
                return n == exp_param::kFloatFlag ? Variant(flag) : Variant();
            }
            Status Start(DataDocument&) override { return Status::Ok(); }
            Status Wait() override { return Status::Ok(); }
        };
        return std::make_unique<FlagExperiment>(floating);
    }
};

TEST(TypeCodes, TableForCodesMinusOneToSeven) {
    const struct {
        std::int32_t code;
        bool floating;
        const char* bitpix;
        const char* name;
    } cases[] = {
        {0, true, "-32", "float"},
        {0, false, "32", "long"},
        {1, false, "16", "short"},
        {2, false, "32", "long"},
        {3, false, "-32", "float"},
        {4, false, "0", "unsupported data type"},
        {5, false, "8", "byte"},
        {6, true, "32", "long"},
        {7, false, "0", "unsigned long"},
        {8, false, "0", "unsupported data type"},
        {-1, true, "0", "unsupported data type"},
        {INT32_MIN, false, "0", "unsupported data type"},
    };
    for (const auto& c : cases) {
        FlagFactory factory;
        factory.floating = c.floating;
        EXPECT_EQ(TypeToBitpix(c.code, factory), c.bitpix) << c.code;
        EXPECT_EQ(TypeToName(c.code, factory), c.name) << c.code;
        EXPECT_EQ(factory.experiments, c.code == 0 ? 2 : 0);
    }
}

}  // namespace
}  // namespace fits
