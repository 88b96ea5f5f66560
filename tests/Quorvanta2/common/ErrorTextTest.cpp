#include "aError.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ErrorText, NamesAndDescriptionsByCode) {
    EXPECT_STREQ(aError_GetErrorText(aErrNone), "aErrNone");
    EXPECT_STREQ(aError_GetErrorText(18), "aErrTimeout");
    EXPECT_STREQ(aError_GetErrorDescription(27), "Quorvanta command to short");
    EXPECT_STREQ(aError_GetErrorText(aErrUnknown), "aErrUnknown");
}

TEST(ErrorText, CodesPastTheTableGiveUnknown) {
    for (int code : {35, 200, 255}) {
        EXPECT_STREQ(aError_GetErrorText(static_cast<aErr>(code)), "aErrUnknown") << code;
        EXPECT_STREQ(aError_GetErrorDescription(static_cast<aErr>(code)), "Unknown error") << code;
    }
}

} // namespace
