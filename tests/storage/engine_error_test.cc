#include "db/storage/engine_error.h"

#include <gtest/gtest.h>

namespace downsql::storage {
namespace {

TEST(EngineError, MessageCarriesCodeAndFilledText) {
  ETabulaEngineError e(9729, {"ByDate", "LOTTO"});
  EXPECT_EQ(e.code(), 9729u);
  EXPECT_STREQ(e.what(),
               "Tabula Engine Error # 9729 Duplicate key found in the index 'ByDate' of the table "
               "'LOTTO'");
}

TEST(EngineError, NumbersFillTheirMarkersInOrder) {
  ETabulaEngineError e(11047, {"39", "C:\\x.dat"});
  EXPECT_EQ(e.text(),
            "An unknown operating system error 39 occurred with the table or backup file "
            "'C:\\x.dat'");
  EXPECT_EQ(EngineErrorText(1), nullptr);
}

}  // namespace
}  // namespace downsql::storage
