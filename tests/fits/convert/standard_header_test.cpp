#include "fits/convert/standard_header.h"

#include <gtest/gtest.h>

#include <fstream>

#include "../../orlix/test_support.h"
#include "../fake_automation.h"

namespace fits {
namespace {

using testing_fakes::MemoryDocument;
using testing_fakes::MemoryFactory;

TEST(StandardHeader, FromDataFileGivesSevenCards) {
    MemoryFactory factory;
    MemoryHeaderStore store;
    HeaderContext context{store, factory, [] { return std::string("2026-12-07"); }};
    MemoryDocument doc;
    doc.params = {{doc_param::kDataType, 1},
                  {doc_param::kColumns, 512},
                  {doc_param::kRows, 256},
                  {doc_param::kFrames, 1},
                  {doc_param::kExposure, 0.1f}};
    SetHeaderText(store, "OLD     = 1\r\n");
    BuildStandardHeader(context, &doc, "");
    EXPECT_EQ(store.Text(),
              "SIMPLE  =                    T\r\n"
              "BITPIX  =                   16 / short\r\n"
              "NAXIS   =                    3 / x, y, z\r\n"
              "NAXIS1  =                  512 / number of columns\r\n"
              "NAXIS2  =                  256 / number of rows\r\n"
              "NAXIS3  =                    1 / number of frames\r\n"
              "EXPTIME =                  0.1 / exposure time - seconds\r\n");
    EXPECT_EQ(store.NavigatorMaximum(), 7);
}

TEST(StandardHeader, WithoutDataFileUsesExperimentAndDate) {
    MemoryFactory factory;
    factory.experiment_params[exp_param::kExposure] = 5.0f;
    factory.experiment_params[exp_param::kDataType] = 0;
    factory.experiment_params[exp_param::kFloatFlag] = true;
    MemoryHeaderStore store;
    HeaderContext context{store, factory, [] { return std::string("2026-12-07"); }};
    testing_support::TempDir dir;
    std::ofstream(dir / "extra.txt") << "  OBSERVER= 'me'  ";
    BuildStandardHeader(context, nullptr, dir / "extra.txt");
    EXPECT_EQ(store.Text(),
              "SIMPLE  =                    T\r\n"
              "BITPIX  =                  -32 / float\r\n"
              "NAXIS   =                    3 / x, y, z\r\n"
              "NAXIS1  =                  512 / number of columns\r\n"
              "NAXIS2  =                  512 / number of rows\r\n"
              "NAXIS3  =                    1 / number of frames\r\n"
              "DATE-OBS= '2026-12-07' / date of data aquisition\r\n"
              "DATE    = '2026-12-07' / date file was written\r\n"
              "EXPTIME =                   5. / exposure time - seconds\r\n"
              "OBSERVER= 'me'");
    factory.experiment_params[exp_param::kFloatFlag] = false;
    auto missing = BuildStandardHeader(context, nullptr, dir / "missing.txt");
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.message().find("missing.txt: cannot open"), std::string::npos);
}

TEST(StandardHeader, EditorButtonsAppendEachTime) {
    MemoryFactory factory;
    factory.experiment_params[exp_param::kDataType] = 4;
    MemoryHeaderStore store;
    HeaderContext context{store, factory, [] { return std::string("2026-02-29"); }};
    AddPrimaryData(context, nullptr);
    AddPrimaryData(context, nullptr);
    EXPECT_EQ(CountRealLines(store.Text()), 12);
    EXPECT_EQ(GetLine(store.Text(), 8),
              "BITPIX  =                    0 / unsupported data type\r\n");
    AddOrlixData(context, nullptr);
    EXPECT_EQ(GetValue(GetLine(store.Text(), 13)), "2026-02-29");  // the date seam's
    // Today's date in the FITS form, whatever the day.
    const std::string today = TodayIsoDate();
    ASSERT_EQ(today.size(), 10u);
    EXPECT_EQ(today.find_first_not_of("0123456789-"), std::string::npos);
    EXPECT_TRUE(today[4] == '-' && today[7] == '-');
}

}  // namespace
}  // namespace fits
