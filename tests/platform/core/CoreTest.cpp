#include "platform/core/VexByteBuffer.h"
#include "platform/core/VexDowncastSize.h"
#include "platform/core/VexIllegalArgumentError.h"
#include "platform/core/VexMessageCatalog.h"
#include "platform/core/VexUtConvert.h"

#include <gtest/gtest.h>

TEST(VexByteBuffer, TrimGrowAndTail)
{
    const char* const cases[][2] = {{"Host: x\r\n", "Host: x"}, {"  \t a b \t\r\n", "a b"}, {"", ""}, {" \x0b\x0c x", "x"}};
    for (const auto& c : cases) {
        VexByteBuffer b(4, 4);
        b.append(c[0]);
        b.trim();
        EXPECT_EQ(c[1], std::string(b.getData(), b.length())) << c[0];
        EXPECT_EQ('\0', b.getData()[b.length()]);
    }
    VexByteBuffer b(1, 1);
    std::string expect;
    for (int i = 0; i < 1000; ++i) {  // every byte value, NUL included
        b.append(static_cast<char>(i));
        expect += static_cast<char>(i);
    }
    b.append("tail");
    EXPECT_EQ(expect + "tail", std::string(b.getData(), b.length()));
    EXPECT_EQ('\0', b.getData()[b.length()]);
}

TEST(VexCoreHelpers, DowncastConvertCatalogue)
{
    EXPECT_EQ(2147483647, VexDowncastSize<int>(2147483647u));
    EXPECT_THROW(VexDowncastSize<int>(2147483648u), VexIllegalArgumentError);
    EXPECT_THROW(VexDowncastSize<unsigned>(-1), VexIllegalArgumentError);
    const unsigned char crlf[] = {0x0D, 0x0A, 0xFF};
    EXPECT_EQ("0D0AFF 3D -1", VexUtConvert::hexCvt(crlf, 3) + " " + VexUtConvert::hexCvt('=') + " " + VexUtConvert::hexCvt(-1));
    std::vector<I18NString> parms = {I18NString("a"), I18NString("b")};
    EXPECT_EQ("b then a, 100% and ", VexMessageCatalog::substitute("%2 then %1, 100%% and %3", parms));
    EXPECT_EQ("trailing %", VexMessageCatalog::substitute("trailing %", parms));
}
