#include "db/storage/engine_error.h"

#include <gtest/gtest.h>

namespace downsql::storage {
namespace {

TEST(EngineError, MessageCarriesCodeAndFilledText) {
  ETabulaEngineError e(kErrDuplicateKey, {"ByDate", "LOTTO"});
  EXPECT_EQ(e.code(), kErrDuplicateKey);
  EXPECT_STREQ(e.what(),
               "Tabula Engine Error # 9729 Duplicate key found in the index 'ByDate' of the table "
               "'LOTTO'");
}

TEST(EngineError, NumbersFillTheirMarkersInOrder) {
  ETabulaEngineError e(kErrUnknownOsError, {"39", "C:\\x.dat"});
  EXPECT_EQ(e.text(),
            "An unknown operating system error 39 occurred with the table or backup file "
            "'C:\\x.dat'");
  EXPECT_EQ(EngineErrorText(1), nullptr);
}

}  // namespace
}  // namespace downsql::storage
